// An update package: only what changed since the release a machine already
// has. An entry whose content equals the old package's entry of the same
// name is left out together with the [Files] lines that install it, as
// long as that changes nothing on such a machine: the old release put the
// same content at the same target, and no other line writes that target.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/parallel_pack.h"

namespace plf {
class TPreLoadReader;
}

namespace plf::tools {

struct DeltaPlan {
  std::vector<bool> leftOut;  // per item; the script (item 0) always stays
  std::string script;         // item 0's text without the left-out lines
  std::size_t linesLeftOut = 0;
  std::string refusal;  // why no delta can be made; empty when one can
};

// `items[0]` is the script, with its text in memory; the others are files.
DeltaPlan PlanDelta(TPreLoadReader& oldPackage, const std::vector<PackItem>& items);

}  // namespace plf::tools
