"""NMEA 0183 logs of a GPS receiver, as the tests and benchmarks feed them to gpsd through
gpsd's own gpsfake: one epoch a second of $GPRMC and $GPGGA (what gpsd makes one TPV report
of), with or without a fix, and with the satellites ($GPGSA, $GPGSV: a SKY report besides) if
asked for; checksums correct. (sim/survey-walk.nmea, the demo's walk, was
made with it.)"""

import datetime


def sentence(body):
    checksum = 0
    for c in body:
        checksum ^= ord(c)
    return "$%s*%02X\r\n" % (body, checksum)


def _angle(value, latitude):
    hemisphere = ("N" if value >= 0 else "S") if latitude else ("E" if value >= 0 else "W")
    degrees = int(abs(value))
    minutes = (abs(value) - degrees) * 60
    return (("%02d%07.4f" if latitude else "%03d%07.4f") % (degrees, minutes)), hemisphere


def epoch(when, lat=None, lon=None, alt=0.0, sky=False):
    """One second's report at the UTC datetime when: a 3D fix at lat, lon (degrees) and alt
    (metres above sea level), or no fix when lat is None; sky adds the satellites of a fix."""
    hms, dmy = when.strftime("%H%M%S") + ".00", when.strftime("%d%m%y")
    if lat is None:
        return (sentence("GPRMC,%s,V,,,,,,,%s,,,N" % (hms, dmy)) +
                sentence("GPGGA,%s,,,,,0,00,99.9,,M,,M,," % hms))
    la, ns = _angle(lat, True)
    lo, ew = _angle(lon, False)
    fix = (sentence("GPRMC,%s,A,%s,%s,%s,%s,1.0,0.0,%s,,,A" % (hms, la, ns, lo, ew, dmy)) +
           sentence("GPGGA,%s,%s,%s,%s,%s,1,08,0.9,%.1f,M,39.5,M,," % (hms, la, ns, lo, ew, alt)))
    if sky:
        fix += (sentence("GPGSA,A,3,01,02,12,14,,,,,,,,,1.5,0.9,1.2") +
                sentence("GPGSV,1,1,04,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45"))
    return fix


def log(start, places, sky=False):
    """A log from the UTC datetime start, a second an epoch: places holds (lat, lon, alt), or
    None for a second without a fix."""
    return "".join(epoch(start + datetime.timedelta(seconds=i), *(place or ()), sky=sky)
                   for i, place in enumerate(places))
