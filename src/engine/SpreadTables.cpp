#include "engine/SpreadTables.h"

#include <cstring>
#include <unordered_map>

void SpreadTables::Build(const LargeArray<double>& blurs, int half,
                         const std::function<const double*(int)>& distanceRow, std::size_t budgetBytes) {
    half_ = half;
    const std::size_t rows = static_cast<std::size_t>(half + 1);
    const std::size_t perTable = rows * (RowLength() * sizeof(double) + sizeof(int));
    std::size_t limit = budgetBytes / perTable;
    if (limit > kNoSpreadTable) limit = kNoSpreadTable;

    // Distinct blur values by their bits; neighbouring pixels mostly repeat one.
    std::unordered_map<std::uint64_t, std::uint16_t> known;
    std::vector<double> distinct;
    ids.assign(blurs.size(), kNoSpreadTable);
    std::uint64_t lastBits = 0;
    std::uint16_t lastId = kNoSpreadTable;
    bool haveLast = false;
    for (std::size_t i = 0; i < blurs.size(); ++i) {
        std::uint64_t bits;
        std::memcpy(&bits, &blurs[i], sizeof bits);
        if (!haveLast || bits != lastBits) {
            const auto found = known.find(bits);
            if (found != known.end()) {
                lastId = found->second;
            } else if (distinct.size() < limit && blurs[i] > 0.0) {
                lastId = static_cast<std::uint16_t>(distinct.size());
                known.emplace(bits, lastId);
                distinct.push_back(blurs[i]);
            } else {
                lastId = kNoSpreadTable;
            }
            lastBits = bits;
            haveLast = true;
        }
        ids[i] = lastId;
    }

    values_.assign(distinct.size() * rows * RowLength(), 0.0);
    widths_.assign(distinct.size() * rows, -1);
    for (std::size_t id = 0; id < distinct.size(); ++id) {
        const double b = distinct[id];
        for (int ady = 0; ady <= half; ++ady) {
            double* row = const_cast<double*>(Row(static_cast<std::uint16_t>(id), ady));
            const double* t = distanceRow(ady);
            int width = -1;
            for (int dx = -half; dx <= half; ++dx) row[dx] = AttenuatedBlur(b, t[dx]);
            while (width + 1 <= half && row[width + 1] >= 1.0) ++width;
            // Only |dx| <= width is ever taken; zeros elsewhere let whole
            // lanes run past the ends of the span.
            for (int dx = -half; dx <= half; ++dx)
                if (dx < -width || dx > width) row[dx] = 0.0;
            widths_[id * rows + ady] = width;
        }
    }
}

void SpreadTables::Clear() {
    LargeArray<std::uint16_t>().swap(ids);
    std::vector<double>().swap(values_);
    std::vector<int>().swap(widths_);
}
