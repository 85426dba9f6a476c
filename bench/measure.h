// What both benchmarks share: sides timed in interleaved blocks, medians, and the table.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vpolv::bench {

// One thing timed: run() once per iteration; tidy() untimed after each iteration, or after each
// block when eachBlock (it clears what the hosts recorded, so that every iteration starts alike).
struct Side {
    std::function<void()> run;
    std::function<void()> tidy = [] {};
    bool eachBlock = false;
    long iterations = 1;  // per block, set by calibrate()
};

inline double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double timeBlock(Side& side) {
    double seconds = 0;
    if (side.eachBlock) {
        seconds = secondsOf([&] {
            for (long i = 0; i < side.iterations; ++i)
                side.run();
        });
        side.tidy();
    } else {
        for (long i = 0; i < side.iterations; ++i) {
            seconds += secondsOf(side.run);
            side.tidy();
        }
    }
    return seconds / static_cast<double>(side.iterations);
}

// Sets each side's block to about blockSeconds, after one untimed warm-up run.
inline void calibrate(std::vector<Side*> sides, double blockSeconds) {
    for (Side* side : sides) {
        side->run();
        side->tidy();
        side->iterations = 1;
        double each = timeBlock(*side);
        while (each * static_cast<double>(side->iterations) < blockSeconds / 4 &&
               side->iterations < 1000000) {
            side->iterations *= 4;
            each = timeBlock(*side);
        }
        side->iterations =
            std::max<long>(1, static_cast<long>(blockSeconds / std::max(each, 1e-9)));
    }
}

// rounds x (a block of each side in turn): the seconds per iteration, [side][round]. Noise
// of the machine hits every side of a round alike.
inline std::vector<std::vector<double>> interleave(std::vector<Side*> sides, int rounds) {
    std::vector<std::vector<double>> out(sides.size());
    for (int r = 0; r < rounds; ++r) {
        for (std::size_t s = 0; s < sides.size(); ++s)
            out[s].push_back(timeBlock(*sides[s]));
    }
    return out;
}

inline double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median over rounds of f(round).
inline double medianOver(std::size_t rounds, const std::function<double(std::size_t)>& f) {
    std::vector<double> values;
    for (std::size_t r = 0; r < rounds; ++r)
        values.push_back(f(r));
    return median(values);
}

// A table printed with aligned columns.
class Table {
  public:
    explicit Table(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    void print() const {
        std::vector<std::size_t> width(rows_[0].size(), 0);
        for (const auto& row : rows_) {
            for (std::size_t c = 0; c < row.size() && c < width.size(); ++c)
                width[c] = std::max(width[c], row[c].size());
        }
        for (const auto& row : rows_) {
            std::string line;
            for (std::size_t c = 0; c < row.size() && c < width.size(); ++c) {
                const std::string pad(width[c] - row[c].size(), ' ');
                line += c == 0 ? row[c] + pad : "  " + pad + row[c];
            }
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
    }

  private:
    std::vector<std::vector<std::string>> rows_;
};

// Measures every case, in full or --quick rounds, and prints what: the table (measure adds a
// row per case and gives its seconds per event), then how the scene event scales.
inline void measureCases(const char* what, const std::vector<std::string>& cases, bool quick,
                         Table& table,
                         const std::function<double(const std::string&, int rounds,
                                                    double blockSeconds, Table&)>& measure) {
    const int rounds = quick ? 3 : 15;
    const double blockSeconds = quick ? 0.02 : 0.1;
    std::printf("%s, %d rounds of interleaved blocks of ~%.0f ms\n", what, rounds,
                blockSeconds * 1e3);
    std::fflush(stdout);
    std::map<std::string, double> eventSeconds;
    for (const auto& name : cases)
        eventSeconds[name] = measure(name, rounds, blockSeconds, table);
    table.print();
    if (eventSeconds.count("scene200") && eventSeconds.count("scene2000")) {
        std::printf("linearity: time(scene2000) / time(scene200) = %.2f\n",
                    eventSeconds["scene2000"] / eventSeconds["scene200"]);
    }
}

inline std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace vpolv::bench
