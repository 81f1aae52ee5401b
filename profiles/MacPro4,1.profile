# A 2009 tower with two processors, four drive bays and six fans; big heat sinks, slow sensors.
[machine]
model = MacPro4,1
dump = MacPro4,1.dump

[thermal]
ambient = 22
airflow = 1.8
ramp = 450
auto.low = 50
auto.high = 80
noise = 0.08
fan.airflow = 0.6, 0.5, 1, 1, 1.4, 1.4
schedule = idle:300, load:600, burst:20, light:40, idle:300

[sensors]
default = 4, 90
TC* = 26, 20
TN* = 14, 60
TM* = 8, 120
TH* = 2, 600
Te* = 5, 180

[drives]
# raw blocks, °C gained at full load, time constant in seconds
drive = drives/sim-hdd.identify, drives/sim-hdd.smart, 7, 600
drive = drives/sim-ssd.identify, drives/sim-ssd.smart, 12, 150
