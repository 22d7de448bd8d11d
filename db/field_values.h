// Field values in record images: reading a field of a record image as a
// runtime value, checking that a value may be written into a field, and
// writing it there. Fixed-width kinds live in the record itself; memo and
// byte-set values live in chains of the auxiliary file (db/aux.h) and the
// record holds the chain's first block.
//
// Ownership: the record image is the caller's and is read or written in
// place; a text or byte-set value read here is a new heap block owned by
// the caller (rt::free). A value written into a chain field goes into a
// new chain and leaves the chain the image named before whole: the caller
// settles the old and the new chains once it knows whether the record was
// written (settleChains), so a crash in between only loses blocks and
// never hands a block of a live value out again.
//
// Errors are engine codes (db/errors.h); nothing here throws. The aux file
// may be null (a table without chain fields): a chain field then gives -59.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "db/format.h"
#include "runtime/value.h"

namespace db {

class AuxFile;

// The value of field f of record image `rec`. On failure *out is the zero
// of the field's kind and the code is returned: -59 without an aux file or
// for a damaged chain, -46 for a field of no known kind.
[[nodiscard]] int readFieldValue(const Field& f, const uint8_t* rec, AuxFile* aux, rt::Arg* out);

// True when text field f of the record image holds exactly `gbk`; false
// for a field of any other kind.
bool fieldHoldsText(const Field& f, const uint8_t* rec, std::string_view gbk);

// 0 when `v` may be written into f (its own kind, or any number into a
// numeric field), else -72.
[[nodiscard]] int checkFieldValue(const Field& f, const rt::Arg& v);

// Writes a checked value into field f of the record image. Numbers are
// converted to the field's kind (a floating value into an integer field is
// cut toward zero); a text longer than the field is cut to whole
// characters. A memo or byte-set value goes into a new chain of `aux`:
// -14 disk full, -59 for the chain or without an aux file. -72 for a
// value of no kind the field takes.
[[nodiscard]] int writeFieldValue(const Field& f, const rt::Arg& v, AuxFile* aux, uint8_t* rec);

// After record image `after` was made from `before` by writeFieldValue:
// when it was `written`, releases the chains `before` named and `after` no
// longer does; otherwise releases the new ones. A release that fails
// leaves its blocks lost, never handed out twice.
void settleChains(const std::vector<Field>& fields, AuxFile* aux, const uint8_t* before, const uint8_t* after,
                  bool written);

// Releases every chain a record image names (a record that was never
// written, or the whole image being dropped).
void releaseChains(const std::vector<Field>& fields, AuxFile* aux, const uint8_t* rec);

// Copies chain field f of record image `rec` (its chain in `src`) into a
// new chain of `dst`, naming it in field df of `dstRec` (0 for an empty
// value). -59 when either aux file is missing, the chain's read or write
// error otherwise.
[[nodiscard]] int copyChainValue(const Field& f, const uint8_t* rec, AuxFile* src, AuxFile* dst, const Field& df,
                                 uint8_t* dstRec);

}  // namespace db
