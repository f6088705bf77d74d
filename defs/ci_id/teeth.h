/* Edges to teeth: the bars of a one-dimensional symbol seen along its axis, one per cell of a
 * regular grid.
 *
 * A tooth is a bar of one polarity bounded by a falling and a rising edge (polarity 1: a dark
 * bar on light, falling then rising along the axis). cidut_edgesToTeeth pairs the edges found
 * along the symbol's axis into tooth candidates, sorts them into bins of 0.8 pitch, finds the
 * dominant tooth width and the strength group by clustering, finds the phase of the cell grid,
 * rescores every candidate by contrast, width and grid fit, puts the best candidate into each
 * cell, resolves neighbours that claim the same edge, and fills the cells that stayed empty
 * with synthetic teeth (startEdge = endEdge = -1, score 256, width = the expected width).
 *
 * Units and frame. Every length is fixed point with 8 fraction bits (256 = one pixel), scores
 * and ratios too (256 = 1.0); double parameters are converted by round half up
 * (value * 256 + 0.5, truncated). An edge position is the signed distance along the symbol's
 * axis (the X side of the rectangle, from Po towards Px) from the centre of the symbol
 * rectangle, in 1/256 pixel; positions must lie within half the rectangle's X length. An edge
 * strength is signed (negative = falling, dark after light along the axis); the scoring treats
 * 0xFF00 as the strongest edge, so scale strengths to 1/256 grey level (a full 0 -> 255 step is
 * 0xFF00). Edges come in increasing position.
 *
 * The grid: cell c covers positions [c P, (c + 1) P) measured from the rectangle's start
 * (position + offset, offset = gridOffset or half the X length), P the expected pitch. */
#ifndef IDUT_CI_ID_TEETH_H
#define IDUT_CI_ID_TEETH_H

#include "base/cmath_affineRect.h"
#include "base/cmath_projective.h"
#include "base/cmath_stats.h"
#include "ci_id/status.h"
#include "ci_id/typecheck.h"
#include "ci_id/vector.h"

IDUT_EXTERN_C_BEGIN

/* One edge of an edge list. */
typedef struct cidut_edge {
  int32_t position; /* 1/256 pixel from the rectangle's centre along its X axis */
  int32_t strength; /* signed; the sign is the polarity */
} cidut_edge;

/* The list must carry this flag: its positions are measured along the symbol's axis. */
#define CIDUT_EDGELIST_ON_AXIS 0x2u

typedef struct cidut_edgeList {
  int32_t count;
  uint32_t flags;      /* CIDUT_EDGELIST_ON_AXIS must be set */
  uint64_t reserved;   /* not read */
  const cidut_edge* edges;
} cidut_edgeList;

typedef struct cidut_edgePairingParams {
  int32_t cellCount;        /* 0: cells (tooth slots) of the symbol */
  int32_t twoCellsPerTooth; /* 0: nonzero: teeth stand on every second cell */
  int32_t skipEndCells;     /* 0: nonzero: the first and last cell are not filled from candidates */
  int32_t polarity;         /* 1: a tooth starts at strength <= 0 and ends at > 0; 0: the reverse */
  double expectedWidth;     /* 0.0: expected tooth width, pixels */
  cmath_range widthRange;   /* [0.3, 1.7]: accepted widths relative to expectedWidth */
  double expectedPitch;     /* 0.0: cell pitch, pixels; must be above 0 */
  double gridOffset;        /* -1.0: added to positions for the grid; negative: half the X length */
  double minEdgeStrength;   /* -1.0: edges whose signed strength is below round(256 * value) are
                             * not paired (so with a limit in force a negative-strength edge never
                             * is); negative disables */
  double minContrastRatio;  /* 0.45: least ratio of the weaker to the stronger edge of a tooth */
  double widthLimit;        /* -1.0: reserved, not used */
  int32_t minTeeth;         /* 2: fewer filled cells than this empty the result */
  int32_t computePoints;    /* 0: nonzero: the teeth's image points are computed */
} cidut_edgePairingParams;

/* One tooth or candidate. Scores are -256 and indices -1 while unset. */
typedef struct cidut_toothCand {
  double point[2];       /* image point of the tooth centre (computePoints only) */
  int32_t position;      /* centre from the caller's (unmapped) edge positions, 1/256 pixel */
  int32_t score;         /* overall score, 256 = 1.0 */
  int32_t strength;      /* mean absolute strength of the two edges */
  int32_t startEdge;     /* index of the first edge in the edge list (-1: synthetic) */
  int32_t endEdge;       /* index of the second edge */
  int32_t cell;          /* cell index, -1 = empty slot */
  int32_t centre;        /* centre of the tooth, in the mapped frame when a mapping is given */
  int32_t width;         /* distance of the two edges */
  int32_t gridScore;     /* fit of the centre to the grid */
  int32_t widthScore;    /* min/max ratio of width and the reference width */
  int32_t contrastRatio; /* min/max ratio of the two edge strengths */
  int32_t spare;         /* not used */
} cidut_toothCand;

CSTD_TYPED_VECTOR_DECLS(cidut_toothCand, cidut_toothCand)

typedef struct cidut_teethResults {
  int32_t dominantWidth;          /* mean width of the chosen width cluster */
  int32_t dominantGridShift;      /* phase of the grid: offset of the tooth centres in a cell */
  int32_t averagePitch;           /* (centre of the last tooth - first) / (cellCount - 1) */
  int32_t avgCellSizeDeviation;   /* mean of width / expectedWidth - 1 over teeth from edges */
  int32_t avgUndistortedCellSize; /* mean width over those teeth */
  int32_t expectedWidth;          /* the parameters' expectedWidth */
  cstd_vector_cidut_toothCand teeth; /* one slot per cell (cellCount), or empty */
  int32_t reserved;
  int32_t bestIndex;              /* index of the best candidate (records used as bins) */
} cidut_teethResults;

/* Writes the defaults above. */
IDUT_API csys_status cidut_edgePairingParams_init(cidut_edgePairingParams* params);

/* Unset values (point and spare untouched). */
IDUT_API csys_status cidut_toothCand_init(cidut_toothCand* tooth);
IDUT_API csys_status cidut_toothCand_assign(cidut_toothCand* tooth, const cidut_toothCand* source);

/* Scalars -256, bestIndex -1, an empty teeth vector with room for 5. A vector failure is
 * returned with nothing left to destruct. */
IDUT_API csys_status cidut_teethResults_construct(cidut_teethResults* results);
IDUT_API csys_status cidut_teethResults_constructCopy(cidut_teethResults* results, const cidut_teethResults* source);
/* Copies the scalars and the teeth (self-assignment does nothing). */
IDUT_API csys_status cidut_teethResults_assign(cidut_teethResults* results, const cidut_teethResults* source);
IDUT_API csys_status cidut_teethResults_destruct(cidut_teethResults* results);

/* Turns the edges along a symbol's axis into teeth (see the top of this header).
 *
 * params: copied. edges: the edge list. mapping and back: both or neither; with both, the edges
 * are first carried by `mapping` into the frame where the teeth are regular (the rectangle and
 * the lengths of params are scaled with it) and the teeth's positions are carried back by
 * `back`. rect: the symbol rectangle, its X side along the axis. pointXform: maps the teeth's
 * points (computePoints), may be null. A tooth's point is taken on the working rectangle's
 * centre line (the mapped rectangle's when a mapping is in force) at position / 256. results: constructed by the caller; reset first (scalars
 * -256, bestIndex -1, teeth empty).
 *
 * On success results->teeth holds cellCount slots, or nothing when fewer than 5 edges came,
 * when the candidates are too dense to show a grid (more than 2.7 per occupied bin), when no
 * width group is found, or when fewer than minTeeth cells got a tooth.
 * Statuses: cidut_errBadArgument when the list lacks CIDUT_EDGELIST_ON_AXIS; csys_errAssertion
 * for null arguments, a pitch that is not positive and edge positions beyond half the
 * rectangle; csys_errNoMemory; mapping failures and the attention check's status (polled
 * between stages). */
IDUT_API csys_status cidut_edgesToTeeth(const cidut_edgePairingParams* params, const cidut_edgeList* edges,
                                        const cmath_xform* mapping, const cmath_xform* back,
                                        const cmath_shapeAffineRect* rect, const cmath_xformLinear* pointXform,
                                        cidut_teethResults* results);

IDUT_STATIC_ASSERT(sizeof(cidut_toothCand) == 64, "cidut_toothCand is two doubles and twelve int32");

IDUT_EXTERN_C_END

#endif
