# A 16-inch two-fan laptop of 2019 with the T2 chip: per-fan mode keys (F0Md, F1Md), fan keys
# as 4-byte floats, no FS! and no fan names. Sources: the Linux kernel's applesmc driver
# (drivers/hwmon/applesmc.c: F<i>Ac/Mn/Mx/Tg, FNum, every "T" key a temperature); the Intel
# key names and their meaning from the public SMC key lists (marukka.ch/mac/mac-smc-sensor-keys;
# "Interpreting sensor names", TC0P CPU proximity, TCXC PECI CPU, TG0P GPU proximity, TB0T
# battery, Ts0P palm rest); the flt fan keys and F<i>Md as the T2 key set of issue 19 shows
# them. Fan ranges (1836..5616, 1700..5200 RPM) and readings are plausible, not measured. The
# dump is written by tools/gen_dumps.py.
[machine]
model = MacBookPro16,1
dump = MacBookPro16,1.dump

[thermal]
ambient = 24
airflow = 1.6
ramp = 800
auto.low = 60
auto.high = 92
noise = 0.12
schedule = idle:120, light:90, load:240, burst:10, idle:10, burst:10, idle:180

[sensors]
default = 5, 45
TC* = 42, 6
TG* = 28, 15
TB* = 3, 240
Ts* = 4, 180
