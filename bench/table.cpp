#include "table.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

void fail(const std::string& why)
{
    std::fprintf(stderr, "bench: %s\n", why.c_str());
    std::exit(1);
}

double milliseconds_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double percentile_95(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[(values.size() * 95 + 99) / 100 - 1];
}

Medians measure(int runs, const std::function<double()>& of_pixla, const std::function<double()>& of_floor)
{
    std::vector<double> pixla_values, floor_values;
    for (int run = 0; run < runs; ++run) {
        pixla_values.push_back(of_pixla());
        floor_values.push_back(of_floor());
    }
    return {median(pixla_values), median(floor_values)};
}

void print_row(const char* what, Medians medians, const char* unit, const char* target)
{
    std::printf("| %-34s | %10.3f %-2s | %10.3f %-2s | %5.2f | %-6s |\n", what, medians.pixla, unit, medians.floor,
                unit, medians.pixla / medians.floor, target);
    std::fflush(stdout);
}
