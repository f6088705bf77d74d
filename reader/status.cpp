// Library failures as the front door reports them: the status names and idut::Error.
#include <utility>

#include "base/cbt.h"
#include "base/cip_pel.h"
#include "base/cmath_projective.h"
#include "ci_id/status.h"
#include "idut/read.hpp"

namespace idut {

namespace {

// Every named status; where two names share a code the one the raising layer uses comes first.
#define IDUT_STATUS(name) {name, #name}
const std::pair<csys_status, const char*> kStatusNames[] = {
    IDUT_STATUS(csys_errAssertion),        IDUT_STATUS(csys_errNoMemory),
    IDUT_STATUS(csys_errBadArgument),      IDUT_STATUS(csys_errOutOfRange),
    IDUT_STATUS(csys_errVectorMismatch),   IDUT_STATUS(csys_errAttention),
    IDUT_STATUS(csys_errImageUnbound),     IDUT_STATUS(csys_errZeroVector),
    IDUT_STATUS(csys_errParallelLines),    IDUT_STATUS(cbt_errNoBoundary),
    IDUT_STATUS(cip_errMemoryOverlap),     IDUT_STATUS(cmath_errDegeneratePoints),
    IDUT_STATUS(cmath_errSingularXform),   IDUT_STATUS(cmath_errPointAtInfinity),
    IDUT_STATUS(cidut_errUnsupported),     IDUT_STATUS(cidut_errNullArgument),
    IDUT_STATUS(cidut_errOutOfRange),      IDUT_STATUS(cidut_errBadStep),
    IDUT_STATUS(cidut_errStatsParam),      IDUT_STATUS(cidut_errStatsEmpty),
    IDUT_STATUS(cidut_errNotOptimized),    IDUT_STATUS(cidut_errEmptySpanBase),
    IDUT_STATUS(cidut_errParallelLines),   IDUT_STATUS(cidut_errZeroDirection),
    IDUT_STATUS(cidut_errDegenerateSegment), IDUT_STATUS(cidut_errDivideByZero),
    IDUT_STATUS(cidut_errBadArgument),     IDUT_STATUS(cidut_errFitFailed),
    IDUT_STATUS(cidut_errTooFewPoints),    IDUT_STATUS(cidut_errRangeNotFinite),
    IDUT_STATUS(cidut_errBuffersOverlap),  IDUT_STATUS(cidut_errNoSamples),
    IDUT_STATUS(cidut_errFftSize),         IDUT_STATUS(cidut_errEmptyContour),
};
#undef IDUT_STATUS

}  // namespace

const char* statusName(int32_t status) noexcept {
  if (!CSYS_FAILED(status)) return "success";
  for (const auto& [code, name] : kStatusNames)
    if (code == status) return name;
  return "unknown status";
}

Error::Error(int32_t status, const std::string& message, std::vector<Symbol> found)
    : std::runtime_error(message), status_(status), found_(std::move(found)) {}

const char* Error::statusName() const noexcept { return idut::statusName(status_); }

}  // namespace idut
