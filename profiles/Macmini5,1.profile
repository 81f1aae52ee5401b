# A 2011 compact desktop with one fan.
[machine]
model = Macmini5,1
dump = Macmini5,1.dump

[thermal]
ambient = 24
airflow = 1.6
ramp = 800
auto.low = 55
auto.high = 90
noise = 0.1
schedule = idle:150, load:200, burst:15, idle:15, burst:15, idle:150

[sensors]
default = 5, 50
TC* = 34, 7
TH* = 3, 400

[drives]
# raw blocks, °C gained at full load, time constant in seconds
drive = drives/sim-hdd.identify, drives/sim-hdd.smart, 7, 600
drive = drives/sim-ssd.identify, drives/sim-ssd.smart, 12, 150
