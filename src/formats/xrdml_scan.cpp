// Turns the parts of an XRDML scan into a scan record.
#include "formats/xrdml_scan.hpp"

#include "core/axis.hpp"

namespace morvex {
namespace {

bool moves(const AxisPositions& axis) {
  if (axis.listed) return axis.listed->size() > 1;
  return axis.start && axis.end && *axis.start != *axis.end;
}

// The positions of `axis` for `count` points; nothing where the axis states too few.
Result<std::vector<double>, LoadError> positions_of(const AxisPositions& axis, std::size_t count) {
  if (axis.listed) {
    if (axis.listed->size() != count) {
      return parse_failure("XRDML listPositions of " + axis.axis + " hold " +
                           std::to_string(axis.listed->size()) + " values for " +
                           std::to_string(count) + " intensities");
    }
    return *axis.listed;
  }
  if (axis.start && axis.end) return xrdml_even_axis(count, *axis.start, *axis.end);
  if (axis.common) return std::vector<double>(count, *axis.common);
  return parse_failure("XRDML positions of " + axis.axis + " state no position");
}

const AxisPositions* choose_x_axis(const std::vector<AxisPositions>& axes) {
  const AxisPositions* two_theta = nullptr;
  const AxisPositions* moving = nullptr;
  for (const AxisPositions& axis : axes) {
    if (axis.axis == "2Theta" && !two_theta) two_theta = &axis;
    if (!moving && moves(axis)) moving = &axis;
  }
  if (two_theta && (moves(*two_theta) || !moving)) return two_theta;
  return moving;
}

// A fixed axis is one number; one that moves with x, its positions.
void note_other_axes(const std::vector<AxisPositions>& axes, const AxisPositions* x_axis,
                     std::size_t count, MetaTable& meta) {
  for (const AxisPositions& axis : axes) {
    if (&axis == x_axis || axis.axis.empty()) continue;
    MetaTable& table = meta.table("axes");
    if (axis.common) {
      table.set(axis.axis, *axis.common);
    } else if (axis.start && axis.end && *axis.start == *axis.end) {
      table.set(axis.axis, *axis.start);
    } else if (auto positions = positions_of(axis, count)) {
      table.set(axis.axis, std::move(positions).value());
    }
  }
}

}  // namespace

std::vector<double> xrdml_even_axis(std::size_t count, double start, double end) {
  if (count == 1) return {start};
  const double step = (end - start) / (static_cast<double>(count) + (-1.0));
  return linear_axis(count, start, step);
}

Result<Scan, LoadError> build_xrdml_scan(XrdmlScanParts&& parts, std::vector<double>&& y) {
  const AxisPositions* x_axis = choose_x_axis(parts.axes);
  if (!x_axis) return parse_failure("XRDML scan without positions");
  auto x = positions_of(*x_axis, y.size());
  if (!x) return fail(std::move(x).error());
  Scan scan;
  scan.meta = std::move(parts.meta);
  // The positions' own axis word stays where the kind of axis spells it otherwise.
  const std::string kind = axis_kind(x_axis->axis);
  if (kind != x_axis->axis) scan.meta.table("header").set("axis", x_axis->axis);
  scan.meta.set("x_axis", kind);
  if (!x_axis->unit.empty()) scan.meta.set("x_unit", x_axis->unit);
  if (!x->empty()) scan.meta.set("start", x->front());
  if (x->size() > 1 && !x_axis->listed && x_axis->start && x_axis->end) {
    scan.meta.set("step", (*x_axis->end - *x_axis->start) / (static_cast<double>(x->size()) - 1.0));
  }
  if (parts.common_counting_time) scan.meta.set("time_per_step_s", *parts.common_counting_time);
  if (parts.counting_times) scan.meta.set("counting_time", std::move(*parts.counting_times));
  if (parts.attenuation) scan.meta.set("attenuation", std::move(*parts.attenuation));
  note_other_axes(parts.axes, x_axis, y.size(), scan.meta);
  scan.x = std::move(x).value();
  scan.y = std::move(y);
  return scan;
}

}  // namespace morvex
