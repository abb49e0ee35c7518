#include "physical/SourceTable.h"

void SourceTable::Allocate() {
    for (std::size_t i = 1; i < starts_.size(); ++i) starts_[i] += starts_[i - 1];
    storage_.resize(starts_.back() * 4);
}
