# File name lookup time against the number of lines: pixla's Shift-click and
# the fgets floor. Reads build-bench/file_lookup.dat, writes a PNG to stdout.
set terminal pngcairo size 800,500 font "sans,10"
set title "Name lookup in an rgb.txt file whose only match is the last line"
set xlabel "lines in the file"
set ylabel "milliseconds (median)"
set logscale xy
set xrange [500:2000000]
set format x "10^{%L}"
set key top left
set grid
plot "build-bench/file_lookup.dat" using 1:2 with linespoints title "pixla, one Shift-click", \
     "" using 1:3 with linespoints title "floor: fgets over the file"
