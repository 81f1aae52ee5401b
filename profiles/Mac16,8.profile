# A 14-inch M4 Pro laptop of 2024: two fans with flt speed keys, mode keys F0Md/F1Md and the
# unlock key Ftst; temperatures in flt, the CPU die average/maximum (TCMb/TCMz) in ioft.
# Sources: the Linux kernel's Apple-silicon SMC device trees (arch/arm64/boot/dts/apple/
# hwmon-fan-dual.dtsi, hwmon-common.dtsi, hwmon-laptop.dtsi) for the fan, mode and shared
# keys; the Asahi Linux wiki page HW:SMC for the flt and ioft types; the M3/M4 per-chip names
# Te05 (efficiency cores), Tf04 (performance cores) and TCMb/TCMz (CPU die average/maximum)
# as the key set of issue 19 names them, Te0S, Tf09, Tf0A, Tf14, Tf18 and Tm0p as plausible
# siblings. Fan ranges (1200..5700, 1200..6100 RPM) and readings are plausible, not measured.
[machine]
model = Mac16,8
dump = Mac16,8.dump

[thermal]
ambient = 24
airflow = 1.3
ramp = 700
auto.low = 65
auto.high = 100
noise = 0.1
schedule = idle:120, light:90, load:240, burst:10, idle:10, burst:10, idle:180

[sensors]
default = 4, 60
Te* = 30, 6
Tf* = 42, 5
TCM* = 42, 5
TB* = 3, 240
Ts* = 4, 180
