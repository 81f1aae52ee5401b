# A 15-inch two-fan laptop of 2011: small heat sinks, fast-reacting processor sensors.
[machine]
model = MacBookPro8,2
dump = MacBookPro8,2.dump

[thermal]
ambient = 24
airflow = 1.4
ramp = 700
auto.low = 55
auto.high = 88
noise = 0.12
schedule = idle:120, light:90, load:240, burst:10, idle:10, burst:10, idle:10, burst:10, idle:180

[sensors]
default = 5, 45
TC* = 38, 6
TG* = 26, 15
TN* = 12, 25
TB* = 3, 240
Ts* = 4, 180

[drives]
# raw blocks, °C gained at full load, time constant in seconds
drive = drives/sim-hdd.identify, drives/sim-hdd.smart, 7, 600
drive = drives/sim-ssd.identify, drives/sim-ssd.smart, 12, 150
