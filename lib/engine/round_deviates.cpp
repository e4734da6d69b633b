#include "engine/round_deviates.h"

#include <algorithm>

#include "engine/composites.h"

namespace pelko::engine {

RoundDeviates::RoundDeviates(std::size_t per_replication) {
  carry_.reserve(per_replication);
  next_carry_.reserve(per_replication);
}

std::int64_t RoundDeviates::assemble(Round& round, std::size_t length) {
  carry_.swap(next_carry_);
  next_carry_.clear();
  const std::size_t exit = join_chains(round.chains.data(), round.stretches, length);
  pieces_.assign(1, Piece{carry_.data(), carry_.size()});
  for (std::size_t s = 0; s < round.stretches; ++s) {
    const StretchChain& c = round.chains[s];
    pieces_.push_back(Piece{c.prefix().data(), c.prefix().size()});
    pieces_.push_back(Piece{round.own.data() + s * length + c.dropped(), c.count() - c.dropped()});
  }
  offsets_.assign(1, 0);
  for (const Piece& piece : pieces_) offsets_.push_back(offsets_.back() + piece.length);
  available_ = offsets_.back();
  offsets_.pop_back();
  return static_cast<std::int64_t>((round.stretches - 1) * length + exit);
}

void RoundDeviates::form(const Design& design, std::size_t first, selection::CompositeTable& table,
                         float* straddling, numeric::InstructionSet set) const {
  const int p = design.predictors;
  auto piece = static_cast<std::size_t>(std::upper_bound(offsets_.begin(), offsets_.end(), first) -
                                        offsets_.begin() - 1);
  int applicant = 0;
  while (applicant < design.applicants) {
    const std::size_t at = first + static_cast<std::size_t>(applicant) * p;
    while (at >= offsets_[piece] + pieces_[piece].length) ++piece;
    const std::size_t inside = at - offsets_[piece];
    const auto whole = static_cast<int>((pieces_[piece].length - inside) / p);
    const int last = std::min(design.applicants, applicant + whole);
    if (last > applicant) {
      form_composites(design, pieces_[piece].data + inside, applicant, last, table, set);
      applicant = last;
      continue;
    }
    // This applicant's deviates straddle two or more pieces.
    for (int j = 0; j < p; ++j) {
      const std::size_t d = at + j;
      while (d >= offsets_[piece] + pieces_[piece].length) ++piece;
      straddling[j] = pieces_[piece].data[d - offsets_[piece]];
    }
    form_composites(design, straddling, applicant, applicant + 1, table, set);
    ++applicant;
  }
}

void RoundDeviates::keep_from(std::size_t used) {
  next_carry_.clear();
  for (std::size_t k = 0; k < pieces_.size(); ++k) {
    const std::size_t from = std::max(used, offsets_[k]);
    const std::size_t to = offsets_[k] + pieces_[k].length;
    if (from < to) {
      next_carry_.insert(next_carry_.end(), pieces_[k].data + (from - offsets_[k]),
                         pieces_[k].data + (to - offsets_[k]));
    }
  }
}

}  // namespace pelko::engine
