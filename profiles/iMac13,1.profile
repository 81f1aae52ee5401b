# A 21.5-inch all-in-one of 2012 with three fans (optical drive, hard disk, processor).
[machine]
model = iMac13,1
dump = iMac13,1.dump

[thermal]
ambient = 23
airflow = 1.2
ramp = 400
auto.low = 52
auto.high = 82
noise = 0.1
fan.airflow = 0.8, 0.8, 1.4
schedule = idle:180, light:120, load:300, idle:240

[sensors]
default = 4, 60
TC* = 30, 10
TG* = 22, 20
TH* = 3, 300
TL* = 6, 200

[drives]
# raw blocks, °C gained at full load, time constant in seconds
drive = drives/sim-hdd.identify, drives/sim-hdd.smart, 7, 600
drive = drives/sim-ssd.identify, drives/sim-ssd.smart, 12, 150
