# Synthetic velmora data files for the tests of the user tools.
#
# The files have the exact layout of the program's output: the 28-line model
# header, the column legend, tab-separated "%d\t%e..." data lines. The numbers
# are smooth made-up curves with known values, not solutions of the disc
# equation: these tests check the tools, not the physics.
#
# Source this file; every function writes into the current folder.

# synthetic_header L MASS MDISK R_OUT TEXP_DAYS FLAG_OUTER
synthetic_header() {
    awk -v l="$1" -v mass="$2" -v mdisk="$3" -v rout="$4" -v td="$5" -v fo="$6" 'BEGIN {
        b = 2.0 - 0.5 / l; ts = td * 86400.0
        printf "#l=%e\n#b=%e\n#mass=%e\n#mdisk=%e\n#mdot_out=%e\n", l, b, mass, mdisk, 0
        printf "#r_out_disk=%e\n#r_out_vis=%e\n#r_ign_in=%e\n#r_ign_out=%e\n", rout, rout, 0.1 * rout, 0.5 * rout
        printf "#r_mass_out=%e\n#r_mass_in=%e\n#init_disk_part=%e\n#sigma_index=%e\n", rout, 0.1 * rout, 1, 0
        printf "#texp(days)=%e\n#texp(s)=%e\n#nu0=%e\n#nu_t_out=%e\n", td, ts, 1e3, 1e15
        printf "#len_Bessel=%d\n#a=%e\n#kappa=%e\n#texp=%e\n#flag_green=%d\n#flag_outer=%d\n", 50, 1, 1e-10, ts, 0, fo
        printf "#PRECISION=%e\n#NUM_COOR=%d\n#MINX=%e\n#ACCUX=%e\n#r_inner_dotM=%e\n", 1e-3, 99, 1e-3, 1e-4, 1.5e-5
    }'
}

# synthetic_mdot NAME NUM_TIME [SERIES] [TEXP_DAYS] [MDISK]: mdotin_NAME.dat with
# Mdot(t) = mdisk/texp * s exp(-s), s = t/texp, at NUM_TIME times from 0.05 to
# 5 texp; column 4 holds 1 % of the rate; with SERIES 1 a fifth column
# "#5=Mdot_in_series" holding 1.001 times the rate.
synthetic_mdot() {
    local name=$1 n=$2 series=${3:-0} td=${4:-30} mdisk=${5:-1e25}
    {
        synthetic_header 0.4 1.989e34 "$mdisk" 1e11 "$td" 0
        printf '#1=i\n#2=t\n#3=Mdot_in\n#4=err_Mdot_in\n'
        [ "$series" -eq 1 ] && printf '#5=Mdot_in_series\n'
        awk -v n="$n" -v td="$td" -v md="$mdisk" -v series="$series" 'BEGIN {
            ts = td * 86400.0
            for (i = 0; i < n; i++) {
                s = (n > 1) ? 0.05 * (100.0 ^ (i / (n - 1.0))) : 0.05
                m = md / ts * s * exp(-s)
                if (series) printf "%d\t%e\t%e\t%e\t%e\n", i, s * ts, m, 0.01 * m, 1.001 * m
                else printf "%d\t%e\t%e\t%e\n", i, s * ts, m, 0.01 * m
            }
        }'
    } > "mdotin_$name.dat"
}

# synthetic_profiles NAME NUM_SNAPSHOTS [MDISK]: the initial profile F_x_NAME.dat
# (six columns) and the snapshots F_x0.dat .. F_x<N-1>.dat (seven columns): a
# ring of torque between 0.1 and 0.5 r_out spreading with time.
synthetic_profiles() {
    local name=$1 n=$2 mdisk=${3:-1e25}
    {
        synthetic_header 0.4 1.989e34 "$mdisk" 1e11 30 0
        printf '#1=j\n#2=x[j]\n#3=r\n#4=h\n#5=F\n#6=F0 (shifted on x!)\n#7=t\n'
        synthetic_profile_lines -1
    } > "F_x_$name.dat"
    local k
    for ((k = 0; k < n; k++)); do
        {
            synthetic_header 0.4 1.989e34 "$mdisk" 1e11 30 0 | sed "s/^#flag_green=0/#flag_green=$((k > 0))/"
            printf '#1=j\n#2=x[j]\n#3=r\n#4=h\n#5=F\n#6=F0\n#7=t\n'
            synthetic_profile_lines "$k"
        } > "F_x$k.dat"
    done
}

# synthetic_profile_lines K: the 99 lines of snapshot K (K = -1: the initial file).
synthetic_profile_lines() {
    awk -v k="$1" 'BEGIN {
        rout = 1e11; hout = sqrt(6.67428e-8 * 1.989e34 * rout); l = 0.4
        t = (k < 0) ? 0 : 0.05 * 30 * 86400 * (3.0 ^ k)
        w = 0.02 + 1e-8 * t
        for (j = 0; j < 99; j++) {
            x = 0.001 + j * (1 - 0.001) / 98
            r = rout * x ^ (4 * l); h = hout * x ^ (2 * l)
            f0 = (r >= 0.1 * rout && r <= 0.5 * rout) ? 1e37 * sin(3.14159265 * (r - 0.1 * rout) / (0.4 * rout)) : 0
            f = 1e37 * exp(-((x ^ (2 * l) - 0.6) ^ 2) / w) * 0.02 / w
            if (k < 0) printf "%d\t%e\t%e\t%e\t%e\t%e\n", j, x, r, h, f0, 0
            else printf "%d\t%e\t%e\t%e\t%e\t%e\t%e\n", j, x, r, h, f, f0, t
        }
    }'
}

# png_check FILE MIN_BYTES: FILE starts with the 8-byte PNG signature, is at
# least MIN_BYTES long, and its IHDR chunk gives a size of at least 200x200.
png_check() {
    local f=$1 min=$2 sig size w h
    [ -f "$f" ] || { echo "missing figure $f"; return 1; }
    sig=$(od -An -tx1 -N8 "$f" | tr -d ' \n')
    [ "$sig" = "89504e470d0a1a0a" ] || { echo "$f: not a PNG (first bytes $sig)"; return 1; }
    size=$(stat -c %s "$f")
    [ "$size" -ge "$min" ] || { echo "$f: only $size bytes (expected at least $min)"; return 1; }
    [ "$size" -le 20000000 ] || { echo "$f: implausibly large, $size bytes"; return 1; }
    w=$(od -An -tu1 -j16 -N4 "$f" | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }')
    h=$(od -An -tu1 -j20 -N4 "$f" | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }')
    [ "$w" -ge 200 ] && [ "$h" -ge 200 ] || { echo "$f: image of ${w}x${h} pixels"; return 1; }
    echo "  $f: PNG of $size bytes, ${w}x${h} pixels"
}

# png_colour_count FILE RRGGBB: how many pixels of FILE (8-bit RGB or RGBA,
# not interlaced, as gnuplot's PNG terminals write) have exactly that colour.
png_colour_count() {
    /usr/bin/python3 - "$1" "$2" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
want = bytes.fromhex(sys.argv[2])
pos, idat, width, height, channels = 8, b'', 0, 0, 3
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + n]
    if kind == b'IHDR':
        width, height, depth, colour = struct.unpack('>IIBB', body[:10])
        channels = {2: 3, 6: 4}[colour]
    elif kind == b'IDAT':
        idat += body
    pos += 12 + n
raw = zlib.decompress(idat)
stride = width * channels
prev = bytearray(stride)
count = 0
for y in range(height):
    f = raw[y * (stride + 1)]
    line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - channels] if i >= channels else 0
        b = prev[i]
        c = prev[i - channels] if i >= channels else 0
        if f == 1: line[i] = (line[i] + a) & 255
        elif f == 2: line[i] = (line[i] + b) & 255
        elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    count += sum(1 for x in range(0, stride, channels) if line[x:x + 3] == want)
    prev = line
print(count)
PY
}
