#pragma once
// TIdHeaderRecord: the base of the header records, which copy their fields into one another.

#include "platform/core/component.h"

namespace brixa {

// Base of the header records: a persistent object that can copy its fields into another
// record. Which fields travel depends on the pair of kinds (CopyFields of each record says
// which); a destination of an unrelated kind is refused with EConvertError
// "Cannot assign a <source> to a <destination>".
class TIdHeaderRecord : public TPersistent {
 public:
  // The record's class name, used in assignment errors.
  [[nodiscard]] virtual const char* ClassName() const noexcept = 0;
  // Copies this record's fields into `destination`.
  virtual void CopyFields(TIdHeaderRecord& destination) const = 0;
  // Takes the fields of `source` (source.CopyFields(*this)).
  void Assign(const TIdHeaderRecord& source) {
    if (&source != this) source.CopyFields(*this);
  }
};

}  // namespace brixa
