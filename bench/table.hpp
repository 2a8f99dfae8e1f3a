// The benchmark's measures and its table: medians of pixla's runs and of its
// floor's, alternated, and one row each with their ratio.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& why);

double milliseconds_since(Clock::time_point start);
double median(std::vector<double> values);
double percentile_95(std::vector<double> values);

struct Medians {
    double pixla;
    double floor;
};

// Runs both measures `runs` times, alternating so that drift hits both alike.
Medians measure(int runs, const std::function<double()>& of_pixla, const std::function<double()>& of_floor);

void print_row(const char* what, Medians medians, const char* unit, const char* target);

// The rows measured on a headless sway, in the same table.
void print_wayland_rows(const std::string& pixla);
// The row measured with the desktop portal.
void print_portal_rows(const std::string& pixla);
