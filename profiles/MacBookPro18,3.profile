# A 14-inch M1 Pro laptop of 2021: two fans with flt speed keys, mode keys F0Md/F1Md and the
# unlock key Ftst; temperatures in flt and ioft. Sources: the Linux kernel's Apple-silicon SMC
# device trees (arch/arm64/boot/dts/apple/t600x-j314-j316.dtsi with hwmon-fan-dual.dtsi for
# F0/F1 Ac, Mn, Mx, Tg, Md; hwmon-common.dtsi and hwmon-laptop.dtsi for TH0x, TB0T, TCHP, TW0P
# and the power keys); the Asahi Linux wiki page HW:SMC (flt, ioft as 48.16 fixed point, TB0T
# battery, TCHP charger, TW0P wireless); the go-smc package documentation (Tp01..Tp16 CPU
# cluster temperatures and fan keys as flt on Apple silicon). Tg05/Tg0D (GPU) and TCMb/TCMz
# (CPU die average/maximum) as the M1 key set of issue 19 names them. Fan ranges
# (1200..5779 RPM) and readings are plausible, not measured.
[machine]
model = MacBookPro18,3
dump = MacBookPro18,3.dump

[thermal]
ambient = 24
airflow = 1.2
ramp = 700
auto.low = 65
auto.high = 98
noise = 0.1
schedule = idle:120, light:90, load:240, burst:10, idle:10, burst:10, idle:180

[sensors]
default = 4, 60
Tp* = 40, 5
TCM* = 40, 5
Tg* = 30, 10
TB* = 3, 240
Ts* = 4, 180
