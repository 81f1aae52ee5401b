#!/usr/bin/env python3
"""Writes the key dumps of the shipped machine profiles (profiles/*.dump).

Each dump is a plausible controller table for its machine class: the fan and temperature keys
the program reads, and a few hundred other keys (power rails, lights, battery, clock, system
keys) of many types. Everything is deterministic: running the script again gives the same files.

    python3 profiles/tools/gen_dumps.py [OUTPUT_DIR]
"""
import os
import random
import struct
import sys


def fpe2(rpm):
    return struct.pack(">H", int(round(rpm * 4)) & 0xFFFF)


def sp78(celsius):
    return struct.pack(">h", int(round(celsius * 256)))


def fixed(type_code, value):
    frac = int(type_code[3], 16)
    raw = int(round(value * (1 << frac)))
    if type_code.startswith("sp"):
        return struct.pack(">h", max(-32768, min(32767, raw)))
    return struct.pack(">H", max(0, min(65535, raw)))


def fds(name, index):
    return bytes([0x00, 0x10 + index, index, 0x00]) + name.encode().ljust(12, b"\0")[:12]


def decoded(type_code, data):
    """The human-readable value, in the form the dump writer of the program uses."""
    n = len(data)
    if (type_code.startswith("sp") or type_code.startswith("fp")) and n == 2:
        try:
            frac = int(type_code[3], 16)
            int(type_code[2], 16)
        except ValueError:
            return None
        raw = struct.unpack(">h" if type_code[0] == "s" else ">H", data)[0]
        return "%.7g" % (raw / float(1 << frac))
    ints = {"ui8 ": ">B", "ui16": ">H", "ui32": ">I", "si8 ": ">b", "si16": ">h", "si32": ">i"}
    if type_code in ints and struct.calcsize(ints[type_code]) == n:
        return str(struct.unpack(ints[type_code], data)[0])
    if type_code == "flag" and n == 1:
        return "true" if data[0] else "false"
    if type_code == "flt " and n == 4:
        return "%.7g" % struct.unpack("<f", data)[0]
    if type_code == "ioft" and n == 8:
        return "%.7g" % (struct.unpack("<Q", data)[0] / 65536.0)
    if type_code.startswith("ch8"):
        text = data.split(b"\0")[0]
        return '"' + "".join(chr(c) if 32 <= c < 127 else "." for c in text) + '"'
    if type_code == "{fds" and n == 16:
        text = data[4:].split(b"\0")[0]
        return '"' + "".join(chr(c) if 32 <= c < 127 else "." for c in text) + '"'
    return None


def line(key, type_code, data):
    assert len(key) == 4 and len(type_code) == 4 and len(data) <= 32, (key, type_code)
    text = "  %s  [%s]  " % (key, type_code)
    value = decoded(type_code, data)
    if value is not None:
        text += value + " "
    return text + "(bytes" + "".join(" %02x" % b for b in data) + ")"


class Table:
    def __init__(self, seed):
        self.keys = {}
        self.rng = random.Random(seed)

    def add(self, key, type_code, data):
        if key not in self.keys:
            self.keys[key] = (type_code, bytes(data))

    def rnd(self, n):
        return bytes(self.rng.randrange(256) for _ in range(n))

    def write(self, path, model):
        count = len(self.keys) + 1
        self.keys["#KEY"] = ("ui32", struct.pack(">I", count))
        with open(path, "w") as out:
            out.write("# Key dump of a %s class machine (%d keys).\n" % (model, count))
            out.write("# Written by profiles/tools/gen_dumps.py; one key a line, sorted.\n")
            for key in sorted(self.keys, key=lambda k: k.encode("latin-1")):
                type_code, data = self.keys[key]
                out.write(line(key, type_code, data) + "\n")


def add_fans(t, fans):
    t.add("FNum", "ui8 ", [len(fans)])
    t.add("FS! ", "ui16", [0, 0])
    t.add("FPhz", "si16", struct.pack(">h", 0))
    for i, (name, mn, mx, ac) in enumerate(fans):
        t.add("F%dAc" % i, "fpe2", fpe2(ac))
        t.add("F%dID" % i, "{fds", fds(name, i))
        t.add("F%dMn" % i, "fpe2", fpe2(mn))
        t.add("F%dMx" % i, "fpe2", fpe2(mx))
        t.add("F%dSf" % i, "fpe2", fpe2(mn))
        t.add("F%dTg" % i, "fpe2", fpe2(ac))


def flt(value):
    return struct.pack("<f", value)


def ioft(value):
    return struct.pack("<Q", int(round(value * 65536)))


def add_mode_fans(t, fans, unlock):
    """Fans of T2 and Apple-silicon controllers: flt speeds, a ui8 mode key per fan (0
    automatic), no "FS! " and no "F%uID"; Apple silicon adds the unlock key "Ftst"."""
    t.add("FNum", "ui8 ", [len(fans)])
    for i, (mn, mx, ac) in enumerate(fans):
        t.add("F%dAc" % i, "flt ", flt(ac))
        t.add("F%dMn" % i, "flt ", flt(mn))
        t.add("F%dMx" % i, "flt ", flt(mx))
        t.add("F%dTg" % i, "flt ", flt(ac))
        t.add("F%dMd" % i, "ui8 ", [0])
    if unlock:
        t.add("Ftst", "ui8 ", [0])


def add_temps(t, temps):
    for key, value in temps.items():
        type_code = "sp78"
        if isinstance(value, tuple):
            type_code, value = value
        if type_code == "flt ":
            t.add(key, type_code, flt(value))
        elif type_code == "ioft":
            t.add(key, type_code, ioft(value))
        else:
            t.add(key, type_code, fixed(type_code, value))


def add_common(t, model, laptop, rails):
    """System, light, clock and power-rail keys shared by the machine classes."""
    r = t.rng
    t.add("$Adr", "ui32", struct.pack(">I", 0x3000))
    t.add("$Num", "ui8 ", [1])
    t.add("+LKS", "flag", [1])
    t.add("ACCL", "ui8 ", [0])
    t.add("ACEN", "ui8 ", [1 if laptop else 0])
    t.add("ACFP", "flag", [0])
    t.add("ACID", "ch8*", b"\x04\x00\x00\x00\x00\x00\x00\x00")
    t.add("ACIN", "flag", [1])
    t.add("ACOW", "ui8 ", [0])
    for key, code in (("CLKH", "{clh"), ("CLKT", "ui32"), ("CLWK", "ui16")):
        size = {"{clh": 8, "ui32": 4, "ui16": 2}[code]
        t.add(key, code, t.rnd(size))
    t.add("CLSD", "ui8 ", [0])
    t.add("CRCA", "ui32", t.rnd(4))
    t.add("CRCB", "ui32", t.rnd(4))
    t.add("CRCU", "ui32", t.rnd(4))
    t.add("DPLM", "{lim", [0x0A, 0x00, 0x00, 0xFF, 0x0A])
    t.add("EPCA", "ui32", struct.pack(">I", 0x40000))
    t.add("EPCI", "ui32", struct.pack(">I", 0x0700E001))
    t.add("EPCV", "ui32", struct.pack(">I", 0x1000))
    t.add("EPMA", "ch8*", b"EPM\0\0\0\0\0")
    t.add("EPMI", "ui32", t.rnd(4))
    t.add("EPUA", "ui32", t.rnd(4))
    t.add("EVCT", "ui16", t.rnd(2))
    t.add("EVMD", "ui32", struct.pack(">I", 0))
    t.add("HBKP", "ui8 ", [0])
    t.add("HDBS", "ui8 ", [0])
    t.add("HDST", "ui8 ", [1])
    t.add("KPPW", "ui8 ", [0])
    t.add("KPST", "ui8 ", [0])
    t.add("LAcN", "ui8 ", [0])
    t.add("LKSB", "{lkb", [0x00, 0x01])
    t.add("LKSS", "{lks", [0x00, 0x00])
    t.add("LS! ", "ui8 ", [0])
    t.add("LSCF", "{lsc", t.rnd(10))
    t.add("LSDD", "{lsd", t.rnd(8))
    t.add("LSDU", "ui8 ", [0x01])
    t.add("LSFD", "{lsf", t.rnd(6))
    t.add("LSLB", "{pwm", [0x00, 0x00])
    t.add("LSLF", "{pwm", [0xFF, 0xFF])
    t.add("LSLN", "{pwm", [0xAF, 0x1A])
    t.add("LSOF", "flag", [0])
    t.add("LSOO", "flag", [1])
    t.add("LSPV", "{lsm", t.rnd(6))
    t.add("LSRR", "{lsr", t.rnd(7))
    t.add("LSSB", "{lso", [0x01, 0x02])
    t.add("LSSE", "flag", [0])
    t.add("LSSN", "{lso", [0x00, 0x01])
    t.add("LSSS", "{lso", [0x01, 0x00])
    t.add("LSSV", "ui16", [0x00, 0x00])
    t.add("LSUP", "ui8 ", [0x01])
    t.add("MOCF", "ui8 ", [0])
    t.add("MOHD", "ui8 ", [0])
    t.add("MOJO", "ui8 ", [0])
    t.add("MSAc", "ui16", [0x00, 0x00])
    t.add("MSAf", "ui16", [0x00, 0x00])
    t.add("MSAg", "ui16", [0x00, 0x00])
    t.add("MSAi", "ui16", [0x00, 0x00])
    t.add("MSAL", "ui8 ", [0x5F])
    t.add("MSAm", "ui8 ", [0x00])
    t.add("MSDI", "flag", [0])
    t.add("MSDW", "flag", [0])
    t.add("MSFW", "ui8 ", [0x01, 0x00])
    t.add("MSGA", "ui8 ", [0x00])
    t.add("MSHS", "ui16", [0x00, 0x00])
    t.add("MSLD", "ui8 ", [0x00])
    t.add("MSPS", "ui16", [0x00, 0x03])
    t.add("MSSD", "si8 ", [0x05])
    t.add("MSSP", "si8 ", [0x05])
    t.add("MSSS", "ui8 ", [0x00])
    t.add("MSTC", "ui8 ", [0x00])
    t.add("MSTM", "ui8 ", [0x00])
    t.add("MSWR", "ui8 ", [0x00])
    t.add("MSXK", "ui8 ", [0x00])
    t.add("NATJ", "ui8 ", [0x00])
    t.add("NATi", "ui16", [0x00, 0x00])
    t.add("NTOK", "ui8 ", [0x01])
    t.add("ONMI", "ui8 ", [0x00])
    t.add("RBr ", "ch8*", model.split(",")[0].lower()[:8].encode().ljust(8, b"\0"))
    t.add("REV ", "{rev", [0x01, 0x60, 0x0F, 0x00, 0x00, 0x12])
    t.add("RMde", "char", b"A")
    t.add("RPlt", "ch8*", ("j%02d" % r.randrange(10, 99)).encode().ljust(8, b"\0"))
    t.add("RSvn", "ui8 ", [0x01])
    t.add("RVBF", "{rev", [0x01, 0x60, 0x0F, 0x00, 0x00, 0x12])
    t.add("RVUF", "{rev", [0x01, 0x60, 0x0F, 0x00, 0x00, 0x12])
    t.add("SBFL", "ui8 ", [0x00])
    t.add("SIP ", "hex_", t.rnd(4))
    t.add("SPHZ", "ui8 ", [0x00])
    t.add("SPHS", "ui8 ", [0x00])
    t.add("WKTP", "ui8 ", [0x01])
    t.add("YSVC", "{fsd", t.rnd(3))
    t.add("ZETM", "ui8 ", [0x00])
    t.add("dBA0", "ui16", [0x00, 0x00])
    t.add("zDBG", "ui8 ", [0x00])
    # Lower-case t keys: thermal bookkeeping, never sensors of the program.
    t.add("tTHM", "ui8 ", [0x00])
    t.add("tLNK", "flag", [0x01])
    t.add("tPSM", "ui16", [0x00, 0x40])
    # Power rails: currents, voltages and powers with their raw channels.
    for letter in rails:
        for n in range(2):
            for kind, code, lo, hi in (("I", "sp5a", 0.1, 6.0), ("V", "fp2e", 0.8, 12.2),
                                        ("P", "sp96", 1.0, 40.0)):
                value = r.uniform(lo, hi)
                t.add("%s%s%dC" % (kind, letter, n), code, fixed(code, value))
                t.add("%s%s%dR" % (kind, letter, n), "sp4b" if kind == "I" else code,
                      fixed("sp4b" if kind == "I" else code, value * 0.97))
    t.add("PC0C", "sp96", fixed("sp96", 8.5))
    t.add("PCPC", "sp96", fixed("sp96", 9.1))
    t.add("PCPG", "sp96", fixed("sp96", 2.2))
    t.add("PCPT", "sp96", fixed("sp96", 12.0))
    t.add("PCTR", "sp96", fixed("sp96", 14.5))
    t.add("PDTR", "sp96", fixed("sp96", 20.1))
    t.add("PSTR", "sp96", fixed("sp96", 30.0))
    t.add("PZ0E", "sp96", fixed("sp96", 0.0))
    t.add("PZ1E", "sp96", fixed("sp96", 0.0))
    for n in range(6):
        t.add("PZ%dG" % n, "sp96", fixed("sp96", r.uniform(5, 60)))
        t.add("PZ%dF" % n, "ui16", t.rnd(2))


def add_battery(t):
    r = t.rng
    t.add("BNum", "ui8 ", [0x01])
    t.add("BSIn", "ui8 ", [0x07])
    t.add("BATP", "flag", [0x00])
    t.add("BBAD", "flag", [0x00])
    t.add("BBIN", "ui8 ", [0x01])
    t.add("BFCL", "ui8 ", [0x64])
    t.add("BRSC", "ui16", [0x00, 0x5A])
    t.add("BSAC", "ui16", [0x00, 0x00])
    t.add("BSDC", "ui8 ", [0x00])
    for n in range(1, 4):
        t.add("BC%dV" % n, "ui16", struct.pack(">H", r.randrange(4080, 4190)))
    t.add("B0AC", "si16", struct.pack(">h", -r.randrange(200, 900)))
    t.add("B0AV", "ui16", struct.pack(">H", 12450))
    t.add("B0CT", "ui16", struct.pack(">H", 213))
    t.add("B0FC", "ui16", struct.pack(">H", 7341))
    t.add("B0RM", "ui16", struct.pack(">H", 6620))
    t.add("B0St", "ui16", [0x00, 0x40])
    t.add("B0TF", "ui16", [0xFF, 0xFF])
    t.add("B0AP", "si16", struct.pack(">h", -9850))
    t.add("B0Ti", "ui16", t.rnd(2))
    t.add("B0Ts", "ui8 ", [0x00])
    t.add("B0DC", "ui16", struct.pack(">H", 7700))
    t.add("B0Ba", "ch8*", b"bq20z45\0")
    t.add("ALV0", "{alv", t.rnd(10))
    t.add("ALV1", "{alv", t.rnd(10))
    t.add("ALSL", "ui16", [0x00, 0x0F])
    t.add("ALRV", "ui16", [0x00, 0x01])
    t.add("ALDM", "ui8 ", [0x01])
    t.add("ALT0", "{ali", t.rnd(10))
    t.add("ALT1", "{ali", t.rnd(10))
    t.add("SBHL", "ui8 ", [0x00])
    t.add("MSLC", "ui8 ", [0x00])
    t.add("MSLF", "ui8 ", [0x00])
    t.add("CHLC", "ui8 ", [0x00])
    t.add("CH0B", "hex_", [0x00])
    t.add("CH0C", "hex_", [0x00])
    t.add("CH0I", "hex_", [0x00])


def macbookpro():
    t = Table(82)
    add_fans(t, [("Left Side", 2000, 6200, 2002), ("Right Side", 2000, 6200, 1998)])
    add_temps(t, {
        "TA0P": 33.5, "TB0T": 31.2, "TB1T": 31.2, "TB2T": 0.0,  # battery point 2 absent
        "TC0C": 48.0, "TC0D": 52.25, "TC0E": ("sp96", 49.6), "TC0F": 50.1, "TC0J": 1.0,
        "TC0P": 46.75, "TC1C": 49.0, "TC2C": 47.0, "TC3C": 48.0, "TC4C": 46.0,
        "TCFC": 0.0, "TCGC": 47.5, "TCSA": 48.2, "TCXC": ("flt ", 49.25),
        "TG0D": 51.0, "TG0H": 49.5, "TG0P": 48.0, "TG0T": 47.0, "TG1D": 50.0,
        "TH0P": 38.0, "TI0P": 39.0, "TM0P": 44.0, "TM0S": 43.5, "TMBS": 42.0,
        "TN0D": 47.0, "TN0P": 46.0, "TP0P": 41.0, "TPCD": 55.0, "Th1H": 44.0, "Th2H": 44.5,
        "Tm0P": 42.25, "Ts0P": 30.5, "Ts0S": 34.0, "TW0P": 45.0,
    })
    t.add("TCSC", "ui8 ", [0x04])  # a count of processor sensors, not a reading
    add_common(t, "MacBookPro8,2", True, "CDGHMNOPRSTW")
    add_battery(t)
    return t


def imac():
    t = Table(131)
    add_fans(t, [("ODD", 1100, 2600, 1101), ("HDD", 1100, 2800, 1102), ("CPU", 1200, 2700, 1204)])
    add_temps(t, {
        "TA0p": 27.5, "TC0c": 44.0, "TC1c": 45.5, "TL0p": 36.0, "TC0P": 41.0, "TC0D": 45.0,
        "TC0E": ("sp96", 43.0), "TC0F": 44.5, "TC2c": 44.0, "TC3c": 43.5, "TCGc": 42.0,
        "TCSc": 43.0, "TCXC": ("flt ", 45.75), "TG0D": 48.0, "TG0P": 44.0, "TG0p": 44.0,
        "TG1d": 47.0, "TH0F": 35.0, "TH0O": 35.5, "TH0P": 34.5, "TH0a": 35.0, "TH0b": 35.0,
        "TL1p": 35.0, "TM0P": 40.0, "TM0S": 39.0, "TN0D": 46.0, "TO0P": 0.0,  # no optical drive
        "Tm0P": 40.0, "Tp0P": 38.0, "Tp1P": 37.5, "Tp2P": 36.0, "TPCD": 50.0, "TS0V": 30.0,
        "TW0P": 38.0,
    })
    t.add("TLSV", "ui16", [0x00, 0x01])
    add_common(t, "iMac13,1", False, "ABCDGHLMNOPSTW")
    # The display's ambient light keys, desktop class.
    t.add("ALV0", "{alv", t.rnd(10))
    t.add("ALSL", "ui16", [0x00, 0x0F])
    t.add("tOD0", "ui8 ", [0x00])
    t.add("tHD0", "ui8 ", [0x00])
    return t


def macpro():
    t = Table(41)
    add_fans(t, [("PCI", 500, 2800, 502), ("PS", 500, 2800, 701), ("EXHAUST", 500, 2800, 650),
                 ("INTAKE", 500, 2800, 651), ("BOOSTA", 500, 3000, 901),
                 ("BOOSTB", 500, 3000, 899)])
    temps = {
        "TA0P": 26.0, "TC0C": 44.0, "TC1C": 45.0, "TC2C": 43.5, "TC3C": 44.5,
        "TCAC": 44.0, "TCAD": 47.0, "TCAG": 45.0, "TCAH": 40.0, "TCAS": 41.0,
        "TCBC": 43.5, "TCBD": 46.0, "TCBG": 44.0, "TCBH": 39.5, "TCBS": 40.0,
        "TH1F": 32.0, "TH1V": 33.0, "TH1P": 33.5, "TH2P": 34.0, "TH3P": 33.0, "TH4P": 32.5,
        "TM0P": 45.0, "TM1P": 44.0, "TM2P": 43.0, "TM3P": 42.0, "TMA1": 46.0, "TMA2": 45.5,
        "TMA3": 45.0, "TMA4": 44.5, "TMB1": 46.5, "TMB2": 46.0, "TMB3": 45.0, "TMB4": 44.0,
        "TMHS": 47.0, "TMLS": 46.0, "TMPS": 45.0, "TMPV": 44.0, "TMTG": 45.0,
        "TN0D": 58.0, "TN0H": 52.0, "TN0P": 50.0, "TNTG": 55.0, "TS0C": 30.0,
        "Te1F": 33.0, "Te1P": 32.0, "Te1S": 38.0, "Te2F": 33.0, "Te2S": 37.0, "Te3F": 32.5,
        "Te3S": 36.0, "Te4F": 32.0, "Te4S": 0.0,  # slot 4 is empty
        "Tp0C": 35.0, "Tp1C": 38.0, "Tp0P": 37.0, "Tp1P": 40.0, "Tp2P": 38.0,
        "TCXC": ("flt ", 45.5), "TCAE": ("sp96", 44.0),
    }
    for slot in range(8):
        temps["TM%dS" % slot] = 44.0 + 0.5 * slot if slot < 6 else 0.0  # two empty DIMM slots
    add_temps(t, temps)
    add_common(t, "MacPro4,1", False, "ABCDEFGHJKLMNOPQRSTUVWXYZabcdefghjk")
    for n in range(8):
        t.add("MP%dC" % n, "ui16", t.rnd(2))
        t.add("MP%dT" % n, "ui8 ", [0x00])
        t.add("MSC%d" % n, "ui8 ", [0x00])
    t.add("PSFS", "ui8 ", [0x00])
    t.add("PSVS", "ui8 ", [0x01])
    return t


def macmini():
    t = Table(51)
    add_fans(t, [("Exhaust", 1800, 5500, 1801)])
    add_temps(t, {
        "TC0C": 42.0, "TC0D": 45.5, "TC0E": ("sp96", 43.0), "TC0F": 44.0, "TC0P": 40.25,
        "TC1C": 43.0, "TCFC": 41.0, "TCGC": 42.5, "TCSA": 43.0, "TCXC": ("flt ", 43.5),
        "TH0P": 36.0, "TI0P": 38.0, "TM0P": 39.0, "TM0S": 38.5, "TM1S": 0.0,  # one DIMM
        "TMBS": 38.0, "TN0D": 44.0, "TN0P": 42.0, "TW0P": 40.0, "Tm0P": 38.0, "Ts0S": 33.0,
        "TPCD": 48.0, "TS0V": 29.0,
    })
    add_common(t, "Macmini5,1", False, "CDGHMNPSTW")
    return t


def macbookpro_t2():
    """MacBookPro16,1 (16-inch, 2019, T2). Fan keys as the issue's real key set shows them (flt
    F%uAc/Mn/Mx/Tg, ui8 F%uMd, no FS!, no F%uID); the ranges 1836..5616 and 1700..5200 RPM are
    plausible values, not measured ones. Temperatures use the long-documented Intel key names
    (TC0P processor proximity, TG0P graphics proximity, TB0T battery...)."""
    t = Table(161)
    add_mode_fans(t, [(1836, 5616, 1838), (1700, 5200, 1702)], False)
    add_temps(t, {
        "TA0V": 32.5, "TB0T": 31.0, "TB1T": 31.0, "TB2T": 30.5, "TC0P": 47.0,
        "TCXC": ("flt ", 51.5), "TC0D": 0.0,  # no die diode key reading on this board
        "TG0P": 45.0, "TG0D": ("flt ", 47.25), "TH0a": 36.0, "TH0b": 36.5, "TM0P": 43.0,
        "TPCD": 52.0, "TW0P": 41.0, "Ts0P": 30.0, "Ts1P": 31.5, "TaLC": 35.0, "TaRC": 35.5,
    })
    t.add("TCSC", "ui8 ", [0x08])  # a count, not a reading
    add_common(t, "MacBookPro16,1", True, "CDGHMNPSTW")
    add_battery(t)
    return t


def add_silicon_common(t, model):
    """Keys the Linux kernel's Apple-silicon SMC device trees name on every machine
    (arch/arm64/boot/dts/apple/hwmon-common.dtsi, hwmon-laptop.dtsi: ID0R, PSTR, PDTR, PMVR,
    TH0x, VD0R, PHPC, TB0T, TCHP, TW0P, SBAV; all flt), and system keys of many types."""
    r = t.rng
    for key, value in (("ID0R", 2.8), ("PSTR", 9.5), ("PDTR", 11.2), ("PMVR", 3.1),
                       ("PHPC", 4.2), ("VD0R", 20.1), ("SBAV", 12.4)):
        t.add(key, "flt ", flt(value))
    add_temps(t, {"TB0T": ("flt ", 30.5), "TCHP": ("flt ", 36.0), "TW0P": ("flt ", 38.5),
                  "TH0x": ("flt ", 34.0)})
    t.add("RBr ", "ch8*", model.split(",")[0].lower()[:8].encode().ljust(8, b"\0"))
    t.add("RPlt", "ch8*", b"j%d\0\0\0\0" % r.randrange(300, 999))
    t.add("REV ", "{rev", [0x02, 0x10, 0x0F, 0x00, 0x00, 0x21])
    t.add("MSDW", "flag", [0])
    t.add("ACIN", "flag", [1])
    t.add("AC-W", "si8 ", [0x01])
    t.add("B0AC", "si16", struct.pack(">h", -r.randrange(200, 900)))
    t.add("B0AV", "ui16", struct.pack(">H", 12480))
    t.add("B0CT", "ui16", struct.pack(">H", 41))
    t.add("B0FC", "ui16", struct.pack(">H", 6100))
    t.add("B0RM", "ui16", struct.pack(">H", 5870))
    t.add("BNum", "ui8 ", [1])
    t.add("CHLC", "ui8 ", [0])
    t.add("CLKT", "ui32", t.rnd(4))
    t.add("CLSD", "ui8 ", [0])
    t.add("EVMD", "ui32", struct.pack(">I", 0))
    t.add("MSPS", "ui16", [0x00, 0x03])
    t.add("SIP ", "hex_", t.rnd(4))
    t.add("zETM", "si32", struct.pack(">i", -1))
    t.add("tTHM", "ui8 ", [0])
    for n in range(8):
        t.add("PP%dR" % n, "flt ", flt(r.uniform(0.1, 6.0)))
        t.add("VP%dR" % n, "flt ", flt(r.uniform(0.6, 1.2)))
        t.add("IP%dR" % n, "flt ", flt(r.uniform(0.1, 8.0)))
    for n in range(4):
        t.add("EN%dT" % n, "ioft", ioft(r.uniform(100, 5000)))  # energy counters, not sensors


def macbookpro_m1():
    """MacBookPro18,3 (14-inch, 2021, M1 Pro; the kernel's t600x-j314-j316.dtsi gives it the
    two fans of hwmon-fan-dual.dtsi: F0/F1 Ac, Mn, Mx, Tg, Md). Per-chip sensor names (Tp01,
    Tp05, Tp09, Tp0D CPU cores, Tg05/Tg0D GPU, TCMb/TCMz CPU die average/maximum) are those of the
    issue's key set; their values and the fan ranges 1200..5779 RPM are plausible, not
    measured."""
    t = Table(181)
    add_mode_fans(t, [(1200, 5779, 1202), (1200, 5779, 1199)], True)
    add_temps(t, {
        "Tp01": ("flt ", 44.5), "Tp05": ("flt ", 45.25), "Tp09": ("flt ", 43.0),
        "Tp0D": ("flt ", 44.0), "Tp0T": ("flt ", 0.0),  # a core cluster this chip lacks
        "Tg05": ("flt ", 40.5), "Tg0D": ("flt ", 41.0), "TCMb": ("flt ", 44.0),
        "TCMz": ("ioft", 46.5), "Tm02": ("flt ", 39.0), "Ts0P": ("ioft", 31.5),
        "TaLP": ("flt ", 33.0), "TaRF": ("flt ", 33.5),
    })
    add_silicon_common(t, "MacBookPro18,3")
    return t


def macbookpro_m4():
    """Mac16,8 (14-inch, 2024, M4 Pro; two fans). Per-chip sensor names of the M3/M4 generation
    (Te05/Te0S efficiency cores, Tf04/Tf09/Tf0A performance cores, Tf14/Tf18 GPU, TCMb/TCMz CPU
    die average/maximum) are those of the issue's key set; values and the fan ranges are
    plausible, not measured."""
    t = Table(241)
    add_mode_fans(t, [(1200, 5700, 1201), (1200, 6100, 1203)], True)
    add_temps(t, {
        "Te05": ("flt ", 41.0), "Te0S": ("flt ", 40.5), "Tf04": ("flt ", 45.0),
        "Tf09": ("flt ", 46.25), "Tf0A": ("flt ", 44.75), "Tf14": ("flt ", 39.5),
        "Tf18": ("flt ", 40.0), "TCMb": ("ioft", 44.0), "TCMz": ("ioft", 47.0),
        "Tm0p": ("flt ", 38.0), "Ts0P": ("flt ", 31.0), "Tf0K": ("flt ", 0.0),  # absent core
        "TaLP": ("flt ", 32.5), "TaRF": ("flt ", 33.0),
    })
    add_silicon_common(t, "Mac16,8")
    return t


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    for builder, model in ((macbookpro, "MacBookPro8,2"), (imac, "iMac13,1"),
                           (macpro, "MacPro4,1"), (macmini, "Macmini5,1"),
                           (macbookpro_t2, "MacBookPro16,1"), (macbookpro_m1, "MacBookPro18,3"),
                           (macbookpro_m4, "Mac16,8")):
        table = builder()
        table.write(os.path.join(out, model + ".dump"), model)
        print("%s: %d keys" % (model, len(table.keys)))


if __name__ == "__main__":
    main()
