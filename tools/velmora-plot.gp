# velmora-plot.gp: the figures of velmora runs, drawn by gnuplot.
#
# Called by the wrapper tools/velmora-plot, which reads the run folders, checks
# the data and hands over everything as variables (gnuplot -e "..."), with the
# working directory set to a run folder for the profiles:
#
#   mode       'mdot' or 'profiles': which figure to draw
#   term       'pngcairo' or 'png' (the best PNG terminal this gnuplot has)
#   out        output file (PNG)
#   title      figure title (run name and the model's main parameters)
#
# mode 'mdot' (accretion rate at the inner edge against time), runs k = first..last:
#   run<k>        file of rows "t[days] Mdot[g/s] err[g/s]" (column 3 and 4 of the
#                 rate file; only rows a log axis can show)
#   series<k>     file of rows "t[days] Mdot[g/s]" (column 5) or ''
#   label<k>      the run's name in the legend
#   mdotout<k>    the constant supply rate of mode 1 (g/s), or 0
#   supplykind<k> '' , 'law' (the built-in supply law) or 'table' (supply_file)
#   supply<k>     file of rows "t[days] rate[g/s]": the supply history, sampled
#   observed      file of rows "t[days] value[g/s] error[g/s]" or ''
#   texpdays      viscous time in days for the top axis t / texp, or 0: no top axis
#   linear        1: linear time axes
#   tlo, thi, ylo, yhi   the ranges of time (days) and rate (g/s)
#
# mode 'profiles' (viscous torque F(x,t) over radius):
#   snapshots  blank-separated list of snapshot files F_x<N>.dat, columns
#              j, x, r[cm], h[cm^2/s], F, F0 (the initial torque), t[s]
#   tmindays, tmaxdays   range of the snapshot times in days (colour scale)
#
# Units: times on the axes in days (bottom) and in units of texp (top); the
# accretion rate in g/s; radii in cm; the torque F in g cm^2 s^-2.

width = (mode eq 'profiles') ? 1300 : 1000
if (term eq 'pngcairo') {
    set terminal pngcairo enhanced size width,700 font 'sans,11' linewidth 1.2
} else {
    set terminal png enhanced size width,700
}
set output out
set encoding utf8
set grid xtics ytics mxtics mytics lc rgb '#dddddd'
set format y '10^{%L}'

# On a logarithmic axis spanning less than a few decades gnuplot labels only
# the powers of ten, which can leave one label or none: add labels at 2 and 5
# times each power of ten inside [lo125, hi125] of the axis ax125.
tick125 = 'do for [k = int(floor(log10(lo125))) : int(ceil(log10(hi125)))] { do for [m in "2 5"] { v125 = (m + 0) * 10.0**k; if (v125 >= lo125 * 0.9999 && v125 <= hi125 * 1.0001) { eval sprintf("set %stics add (\"%g\" %.12g)", ax125, v125, v125) } } }'

if (mode eq 'mdot') {
    single = (first == last)
    if (linear) {
        set xrange [tlo:thi]
        set format x '%g'
    } else {
        set logscale x
        set xrange [tlo:thi]
        set format x '%g'
        if (log10(thi / tlo) < 2.5) { ax125 = 'x'; lo125 = tlo; hi125 = thi; eval tick125 }
    }
    set logscale y
    set yrange [ylo:yhi]
    # A rate axis of less than a few decades gets labels at 2 and 5 times the powers of ten too.
    if (log10(yhi / ylo) < 2.5) {
        do for [k = int(floor(log10(ylo))) : int(ceil(log10(yhi)))] {
            do for [m in "2 5"] {
                v = (m + 0) * 10.0**k
                if (v >= ylo && v <= yhi) { eval sprintf("set ytics add (\"%s×10^{%d}\" %.12g)", m, k, v) }
            }
        }
    }
    set xlabel 't [days]'
    set ylabel 'inner accretion rate  Ṁ_{in}  [g/s]'
    if (texpdays > 0) {
        # The top axis spans the same interval divided by texp, so both stay aligned.
        if (!linear) { set logscale x2 }
        set x2range [tlo / texpdays:thi / texpdays]
        set xtics nomirror
        set x2tics
        set format x2 '%g'
        if (!linear && log10(thi / tlo) < 2.5) { ax125 = 'x2'; lo125 = tlo / texpdays; hi125 = thi / texpdays; eval tick125 }
        set x2label sprintf('t / t_{exp}   (t_{exp} = %.4g days)', texpdays)
        set tmargin 6
        set title title noenhanced offset 0,1
    } else {
        set title title noenhanced
    }
    # The legend goes under the axes, never over a curve.
    set key below horizontal noopaque nobox spacing 1.2 width 2

    # One plot command built piece by piece: only the curves a run has.
    cmd = ''
    do for [k = first:last] {
        f = value(sprintf('run%d', k))
        col = single ? "rgb '#1f5fa8'" : sprintf('%d', k)
        if (single) {
            cmd = cmd . sprintf("'%s' using 1:2:3 with yerrorbars lc %s pt 7 ps 0.8 title 'least-squares fit (columns 3, 4)', ", f, col)
            cmd = cmd . sprintf("'%s' using 1:2 with lines lc %s notitle, ", f, col)
        } else {
            cmd = cmd . sprintf("'%s' using 1:2 with linespoints lc %s pt 7 ps 0.6 title label%d noenhanced, ", f, col, k)
        }
        g = value(sprintf('series%d', k))
        if (g ne '') {
            cmd = cmd . sprintf("'%s' using 1:2 with lines dt 2 lw 2 lc %s %s, ", g, single ? "rgb '#c0392b'" : col, \
                                single ? "title 'exact rate (column 5)'" : 'notitle')
        }
        m = value(sprintf('mdotout%d', k))
        if (m > 0) {
            cmd = cmd . sprintf("%.10e with lines dt (12,6) lw 1.5 lc %s %s, ", m, single ? "rgb '#2e8b57'" : col, \
                                single ? sprintf("title 'supply rate mdot_out = %.3g g/s' noenhanced", m) : 'notitle')
        }
        kind = value(sprintf('supplykind%d', k))
        if (kind ne '') {
            cmd = cmd . sprintf("'%s' using 1:2 with lines dt 3 lw 2 lc %s %s, ", value(sprintf('supply%d', k)), \
                                single ? "rgb '#e67e22'" : col, \
                                single ? sprintf("title '%s' noenhanced", kind eq 'law' ? 'outer supply (built-in law)' : 'outer supply (table of supply_file)') : 'notitle')
        }
    }
    if (!single) {
        # What the line styles mean, once for all runs.
        cmd = cmd . "NaN with lines dt 2 lw 2 lc rgb 'black' title 'dashed: exact rate (column 5)', "
        have_supply = 0
        do for [k = first:last] { if (value(sprintf('mdotout%d', k)) > 0 || value(sprintf('supplykind%d', k)) ne '') { have_supply = 1 } }
        if (have_supply) { cmd = cmd . "NaN with lines dt 3 lw 2 lc rgb 'black' title 'dotted/dash: outer supply', " }
    }
    if (observed ne '') {
        cmd = cmd . sprintf("'%s' using 1:2:3 with yerrorbars lc rgb 'black' pt 6 ps 1.0 title 'observed (--data)', ", observed)
    }
    eval('plot ' . cmd[1:strlen(cmd) - 2])
}

if (mode eq 'profiles') {
    n = words(snapshots)
    first = word(snapshots, 1)
    set multiplot layout 1,2 title title noenhanced
    set logscale x
    set format x '10^{%L}'
    set xlabel 'r [cm]'
    set ylabel 'torque F [g cm^2 s^{-2}]'
    set logscale cb
    set cbrange [tmindays:tmaxdays]
    set format cb '%g'
    if (log10(tmaxdays / tmindays) < 2.5) { ax125 = 'cb'; lo125 = tmindays; hi125 = tmaxdays; eval tick125 }
    set cblabel 't [days]'
    set palette defined (0 '#2c7bb6', 1 '#abd9e9', 2 '#fdae61', 3 '#d7191c')
    set key top left

    # Left: linear torque, where the ring of the initial disc and its spreading
    # are seen at their true heights.
    unset logscale y
    set format y '%h'
    unset colorbox
    plot for [i=1:n] word(snapshots, i) using 3:5:($7/86400.0) with lines lw 1.5 lc palette notitle, \
         first using 3:6 with lines lw 3 dt 2 lc rgb 'black' title 'initial (t = 0)'

    # Right: logarithmic torque; near the centre F grows linearly in
    # h = sqrt(G M r), the slope that carries the inner accretion rate.
    set logscale y
    set format y '10^{%L}'
    set colorbox
    plot for [i=1:n] word(snapshots, i) using 3:($5 > 0 ? $5 : NaN):($7/86400.0) with lines lw 1.5 lc palette notitle, \
         first using 3:($6 > 0 ? $6 : NaN) with lines lw 3 dt 2 lc rgb 'black' title 'initial (t = 0)'
    unset multiplot
}

set output
