// The library's grid pitch and edges-to-teeth stages on one scan line of the 1D road, used to
// merge elements that noise split in two.
//
// Teeth stand one to a cell of a regular grid, while a 1D symbol mixes bars of one to four
// modules, so the grid is taken with cells two modules wide: bar centres lie two modules apart
// at least, and with the cell borders a quarter module off the edges' grid (bar centres fall on
// whole and half modules) every bar gets a cell of its own. The module pitch comes first, from
// the narrow elements' width refined by the grid pitch fit of the edges, and the grid phase from
// the largest group of edges on one phase. Teeth are then found for dark bars and for light
// spaces, and a tooth that spans edges much weaker than its own two shows a stain or a gap in
// one element: those inner edges go.
//
// The teeth are not taken as the elements themselves: their cell scoring prefers a bar-space-bar
// pair near the dominant width to a real bar of three or four modules, and wide Code 39 and ITF
// elements are off the module grid, so a line read from the teeth's edges alone lost one read
// in ten on generated scenes.
#ifndef IDUT_READER_ONED_ROAD1DTEETH_HPP
#define IDUT_READER_ONED_ROAD1DTEETH_HPP

#include <vector>

namespace road1d {

struct LineEdge {
  double position;  // along the line, in any unit (the road's profile samples)
  bool rising;      // dark to light
  double strength;  // grey levels over two samples
};

// The module pitch of edges alternating in polarity, in the positions' unit: the mean width of
// the narrow elements, refined so that the edges fall on a grid of that pitch. 0 when there are
// too few edges or the fit fails.
double modulePitch(const std::vector<LineEdge>& edges);

// The edges with those removed that lie inside a tooth and are weaker than half its weaker
// edge; the edges as they came when no module grid or no teeth are found.
std::vector<LineEdge> mergedByTeeth(const std::vector<LineEdge>& edges);

}  // namespace road1d

#endif
