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

inline std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
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

// What a case is timed on: the event, the bare replay of its host calls, the SPACE.INI and
// catalogs-folder work of its catalog loads, and one bare host call.
struct CaseSides {
    Side& event;
    Side& replay;
    Side& files;
    Side& bare;
};

// The columns of every table; a benchmark may add its own after them.
inline std::vector<std::string> caseColumns() {
    return {"case",         "calls",           "event us",  "replay us",   "ini+dir us",
            "bare call us", "ev/(replay+ini)", "ev/replay", "own us/call", "own/bare"};
}

// Times the sides in interleaved blocks and adds the case's row (extra cells at its end): the
// medians over the rounds of the times, of the ratios, and of the own time per host call
// ((event - replay - files) / calls). Gives the median seconds per event.
inline double timeCase(const std::string& name, std::size_t calls, CaseSides sides, int rounds,
                       double blockSeconds, Table& table, std::vector<std::string> extra = {}) {
    const std::vector<Side*> all = {&sides.event, &sides.replay, &sides.files, &sides.bare};
    calibrate(all, blockSeconds);
    const auto t = interleave(all, rounds);
    const auto &te = t[0], &tr = t[1], &tf = t[2], &tb = t[3];
    const std::size_t n = te.size();
    const auto own = [&](std::size_t r) {
        return (te[r] - tr[r] - tf[r]) / static_cast<double>(calls);
    };
    std::vector<std::string> row = {
        name,
        std::to_string(calls),
        fixed(median(te) * 1e6, 1),
        fixed(median(tr) * 1e6, 1),
        fixed(median(tf) * 1e6, 1),
        fixed(median(tb) * 1e6, 3),
        fixed(medianOver(n, [&](std::size_t r) { return te[r] / (tr[r] + tf[r]); }), 2),
        fixed(medianOver(n, [&](std::size_t r) { return te[r] / tr[r]; }), 2),
        fixed(medianOver(n, own) * 1e6, 3),
        fixed(medianOver(n, [&](std::size_t r) { return own(r) / tb[r]; }), 2)};
    row.insert(row.end(), extra.begin(), extra.end());
    table.add(std::move(row));
    return median(te);
}

// Measures every case, in full or --quick rounds, and prints what: the table (measure adds a
// row per case and gives its seconds per event), then how the scene event scales.
inline void measureCases(const char* what, const std::vector<std::string>& cases, bool quick,
                         std::vector<std::string> extraColumns,
                         const std::function<double(const std::string&, int rounds,
                                                    double blockSeconds, Table&)>& measure) {
    const int rounds = quick ? 3 : 15;
    const double blockSeconds = quick ? 0.02 : 0.1;
    std::printf("%s, %d rounds of interleaved blocks of ~%.0f ms\n", what, rounds,
                blockSeconds * 1e3);
    std::fflush(stdout);
    std::vector<std::string> columns = caseColumns();
    columns.insert(columns.end(), extraColumns.begin(), extraColumns.end());
    Table table(std::move(columns));
    std::map<std::string, double> eventSeconds;
    for (const auto& name : cases)
        eventSeconds[name] = measure(name, rounds, blockSeconds, table);
    table.print();
    if (eventSeconds.count("scene200") && eventSeconds.count("scene2000")) {
        std::printf("linearity: time(scene2000) / time(scene200) = %.2f\n",
                    eventSeconds["scene2000"] / eventSeconds["scene200"]);
    }
}

}  // namespace vpolv::bench
