# velmora-plot.gp: the figures of one velmora run, drawn by gnuplot.
#
# Called by the wrapper tools/velmora-plot, which reads the run folder, checks
# the data and hands over everything as variables (gnuplot -e "..."), with the
# working directory set to the run folder:
#
#   mode       'mdot' or 'profiles': which figure to draw
#   term       'pngcairo' or 'png' (the best PNG terminal this gnuplot has)
#   out        output file (PNG)
#   title      figure title (run name and the model's main parameters)
#
# mode 'mdot' (accretion rate at the inner edge against time):
#   mdotdata   file of rows "t[days] Mdot[g/s] err[g/s]", only rows with t > 0
#              and Mdot > 0 (the wrapper drops the rest: log-log axes)
#   seriesdata file of rows "t[days] Mdot_series[g/s]" or '' when the run has
#              no series column
#   texpdays   viscous time texp in days: the top axis shows t / texp
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
set key top right opaque box lc rgb '#bbbbbb'
set format y '10^{%L}'

# On a logarithmic axis spanning less than a few decades gnuplot labels only
# the powers of ten, which can leave one label or none: add labels at 2 and 5
# times each power of ten inside [lo125, hi125] of the axis ax125.
tick125 = 'do for [k = int(floor(log10(lo125))) : int(ceil(log10(hi125)))] { do for [m in "2 5"] { v125 = (m + 0) * 10.0**k; if (v125 >= lo125 * 0.9999 && v125 <= hi125 * 1.0001) { eval sprintf("set %stics add (\"%g\" %.12g)", ax125, v125, v125) } } }'

if (mode eq 'mdot') {
    stats mdotdata using 1 nooutput
    # Half a decade of margin around the output times; the top axis spans the
    # same interval divided by texp, so both axes stay aligned.
    pad = 10**0.15
    tlo = STATS_min / pad
    thi = STATS_max * pad
    set logscale x
    set logscale x2
    set logscale y
    set xrange [tlo:thi]
    set x2range [tlo / texpdays:thi / texpdays]
    set xtics nomirror
    set x2tics
    set format x '%g'
    set format x2 '%g'
    if (log10(thi / tlo) < 2.5) {
        ax125 = 'x'; lo125 = tlo; hi125 = thi; eval tick125
        ax125 = 'x2'; lo125 = tlo / texpdays; hi125 = thi / texpdays; eval tick125
    }
    set xlabel 't [days]'
    set x2label sprintf('t / t_{exp}   (t_{exp} = %.4g days)', texpdays)
    set ylabel 'inner accretion rate  Ṁ_{in}  [g/s]'
    set tmargin 6
    set title title noenhanced offset 0,1
    if (seriesdata ne '') {
        plot mdotdata using 1:2:3 with yerrorbars lc rgb '#1f5fa8' pt 7 ps 0.8 title 'least-squares fit (columns 3, 4)', \
             mdotdata using 1:2 with lines lc rgb '#1f5fa8' notitle, \
             seriesdata using 1:2 with lines dt 2 lw 2 lc rgb '#c0392b' title 'Bessel series (column 5)'
    } else {
        plot mdotdata using 1:2:3 with yerrorbars lc rgb '#1f5fa8' pt 7 ps 0.8 title 'least-squares fit ± error', \
             mdotdata using 1:2 with lines lc rgb '#1f5fa8' notitle
    }
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
