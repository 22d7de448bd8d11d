// The demo catalogue: drugs, herbs, materials and services of every charge
// category, with codes, prices, batches and origins.
#pragma once

#include <array>
#include <vector>

#include "demo/rng.h"
#include "demo/year.h"

namespace demo {

// The charge categories in the system's fixed order (UTF-8).
extern const std::array<const char*, 17> kCategoryWords;

// Catalogue records by category: byCategory[c] lists the first batch of
// every item of category c (indices into the catalogue).
struct Catalogue {
  std::vector<Item> items;
  std::array<std::vector<int>, 17> byCategory;
};

// About 300 items for the small scale, 5,000 for the busy one, every
// category present; a few drugs carry a second batch, appended after the
// first batches as a later purchase would be. Drugs are made in the year
// before `year`, second batches bought in `year`. Stock is left at 0 (the
// year sets it once the charges are known).
Catalogue makeCatalogue(Scale scale, int year, Rng& rng);

// Dates the drug batches as the shelves hold them on `asOf` (a date after
// `yearStart`, the first day charged from them): a few already past their
// expiry date, a few expiring within the drug window's warning period
// (app/expiry.h), the rest later; every first batch made before
// `yearStart`, every second batch bought in the weeks before `asOf`, each
// batch number the date it was made.
void dateBatches(Catalogue& cat, double yearStart, double asOf, Rng& rng);

}  // namespace demo
