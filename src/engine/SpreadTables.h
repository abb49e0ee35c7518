#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/RowLayout.h"
#include "platform/LargeArray.h"

// J (see AttenuatedBlur) tabulated per distinct positive blur value: one row
// per |dy| holding dx = -half..half (J depends on dx^2 and dy^2 only)
// between kRowPad zeros on each side, together with the widest |dx| of each
// row whose J is at least 1. For a positive blur J never grows with the
// distance, so a row's offsets with J >= 1 are exactly |dx| <= that width;
// the row holds 0 at every other offset.
//
// The tables may instead hold each row's running sums (element dx: the sum
// of J over the row up to dx, pads included), so that the J of any range of
// offsets is the difference of two elements, together with a bound on the
// error of that difference: 0 where every J of the row is a multiple of
// kExactStep (the sums are then exact), above 0 elsewhere.
//
// With running sums, the first tables (in what the budget leaves) also
// hold column sums, for sources alike in many rows: row k of a table's
// column sums is the sum of its running-sum rows |dy| = 1 .. k (row 0 is 0),
// so that the J of a rectangle of offsets lying on one side of dy = 0 is a
// difference of differences; its counts likewise count the offsets with J
// >= 1 (whole numbers, exact). Each table has one bound on the error of
// such a difference of four.
class SpreadTables {
public:
    enum class Form { kValues, kRunningSums };

    // Tabulates the distinct values of blurs for offsets 0..half, up to a
    // memory budget, in the given form; pixels whose blur did not fit get
    // kNoSpreadTable, as do values of fewer than fewestPixels pixels (where
    // fewestPixels is 1 and the budget does not hold every value, of fewer
    // than a thousand); with
    // running sums, the first tables get column sums in what they leave of
    // the budget, up to columnBytes. distanceRow(dy)
    // gives the doubled distances of row offset dy, element dx; it is called
    // from up to threads threads at once.
    void Build(const UnfilledArray<double>& blurs, int half, const std::function<const double*(int)>& distanceRow,
               std::size_t budgetBytes, int threads, Form form = Form::kValues, std::size_t columnBytes = 0,
               std::size_t fewestPixels = 1);
    // The same tables (the same ids) again in another form.
    void Refill(Form form, const std::function<const double*(int)>& distanceRow, int threads);

    // Row |dy| of table id; element dx (-half <= dx <= half) is J there.
    const double* Row(std::uint16_t id, int ady) const {
        return &values_[(static_cast<std::size_t>(id) * (half_ + 1) + ady) * RowLength() + RowCentre()];
    }
    int Width(std::uint16_t id, int ady) const { return widths_[static_cast<std::size_t>(id) * (half_ + 1) + ady]; }
    // Whether some positive blur has no table.
    bool SomeUntabled() const { return someUntabled_; }
    // Whether table id has column sums (running sums only).
    bool HasColumns(std::uint16_t id) const { return id < columnTables_; }
    std::size_t ColumnTables() const { return columnTables_; }
    // Per table with columns, the largest |dy| whose row has J >= 1 (-1: none).
    const int* ColumnReach() const { return columnReach_.data(); }

    UnfilledArray<std::uint16_t> ids;  // per pixel

    void Clear();

    // The raw layout: rows of RowLength() doubles, element dx = 0 at RowCentre().
    const double* Values() const { return values_.data(); }
    const int* Widths() const { return widths_.data(); }
    // Per row, with running sums: the bound on the error of a difference.
    const double* SumErrors() const { return sumErrors_.data(); }
    std::size_t RowLength() const { return RowLengthFor(half_); }
    // The doubles of a row of offsets -half .. half and its pads.
    static std::size_t RowLengthFor(int half) { return static_cast<std::size_t>(2 * half + 1 + 2 * kRowPad); }
    std::size_t RowCentre() const { return static_cast<std::size_t>(kRowPad + half_); }
    // The column sums and counts in the same layout (tables 0 .. first
    // without columns - 1), and per table the bound on a difference of four.
    const double* ColumnSums() const { return columnSums_.data(); }
    const double* ColumnCounts() const { return columnCounts_.data(); }
    const double* ColumnErrors() const { return columnErrors_.data(); }

    // Fills row |dy| of blur b's table (element dx, -half <= dx <= half, at
    // row[dx], kRowPad elements on either side) from the doubled distances
    // of that row (element dx) in the given form; returns its width and,
    // with running sums, sets error to its bound (0 otherwise).
    static int FillRow(double b, const double* distance, int half, Form form, double* row, double& error);

private:
    static double MakeRunningSums(double* row, std::size_t n);
    void MakeColumns(std::size_t id);

    int half_ = 0;
    std::vector<double> distinct_;  // the blur of each table
    bool someUntabled_ = false;
    // Each table's part of these is set by the thread that fills the table.
    UnfilledArray<double> values_;
    std::vector<int> widths_;
    std::vector<double> sumErrors_;
    std::size_t columnLimit_ = 0;  // tables the column budget allows
    std::size_t columnTables_ = 0;
    UnfilledArray<double> columnSums_, columnCounts_;
    std::vector<double> columnErrors_;
    std::vector<int> columnReach_;
};

// Rows of running sums made as a sweep of the first pass meets runs of
// neighbours alike in blur and depth whose blur has no table (a depth of
// many levels leaves most blurs without one: a ground plane has one a row):
// such a run then adds its J at once, as a tabulated one does. Kept until
// Clear, each thread its own.
class MadeSpreadRows {
public:
    // Room for the rows of tables of half + 1 rows.
    void Start(int half);
    // Row |dy| = ady of blur's table in running sums (element dx at dx), its
    // width and bound, made from the doubled distances of that row where it
    // is not yet; null where the room is full.
    const double* Find(double blur, int ady, const double* distance, int& width, double& error);
    void Clear() { made_.clear(); }
    // Whether rows for another source row should wait for a sweep: half the
    // room is taken.
    bool HalfFull() const { return 2 * made_.size() >= room_; }

private:
    // About a megabyte a thread (a sweep is started where half is taken).
    static constexpr std::size_t kBytes = std::size_t{1} << 20;
    static constexpr std::size_t kLeastRows = 64;
    static constexpr std::size_t kLookedThrough = 16;
    struct Made {
        double blur;
        int ady;
        int width;
        double error;
        std::size_t at;
    };
    int half_ = 0;
    std::size_t length_ = 0;  // of a row
    std::size_t room_ = 0;
    // Not filled: each row is written whole when made (and so its pages
    // touched only when some are).
    std::unique_ptr<double[]> rows_;
    std::size_t capacity_ = 0;
    std::vector<Made> made_;
};
