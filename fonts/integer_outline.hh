// Glyph outlines stored as integers with 6 fraction bits, in the vertex
// layout of AGG's vertex_integer (coordinate shifted left one bit, the
// command in the freed bit), so that AGG's serialized_integer_path_adaptor
// reads what serialize() writes. The packing goes through unsigned
// arithmetic: shifting a negative coordinate left is undefined in C++.
#pragma once

#include <cstring>
#include <limits>
#include <vector>

#include <agg_basics.h>
#include <agg_path_storage_integer.h>

namespace agg {

template <class T, unsigned CoordShift = 6>
class integer_outline_storage {
public:
  typedef T value_type;
  typedef vertex_integer<T, CoordShift> vertex_integer_type;

  // One bit of T holds the command, so coordinates keep one bit less.
  static constexpr T max_coord = std::numeric_limits<T>::max() >> 1;
  static constexpr T min_coord = T(-max_coord - 1);

  void remove_all() { m_storage.clear(); }

  void move_to(T x, T y) { add(x, y, vertex_integer_type::cmd_move_to); }
  void line_to(T x, T y) { add(x, y, vertex_integer_type::cmd_line_to); }
  void curve3(T cx, T cy, T x, T y)
  {
    add(cx, cy, vertex_integer_type::cmd_curve3);
    add(x, y, vertex_integer_type::cmd_curve3);
  }
  void curve4(T c1x, T c1y, T c2x, T c2y, T x, T y)
  {
    add(c1x, c1y, vertex_integer_type::cmd_curve4);
    add(c2x, c2y, vertex_integer_type::cmd_curve4);
    add(x, y, vertex_integer_type::cmd_curve4);
  }

  unsigned size() const { return (unsigned)m_storage.size(); }
  unsigned byte_size() const { return size() * (unsigned)sizeof(vertex_integer_type); }
  void serialize(int8u* ptr) const
  {
    if (!m_storage.empty())
      std::memcpy(ptr, m_storage.data(), byte_size());
  }

  // Vertex source: every contour comes out closed.
  void rewind(unsigned)
  {
    m_vertex_idx = 0;
    m_closed = true;
  }
  unsigned vertex(double* x, double* y)
  {
    if (m_storage.size() < 2 || m_vertex_idx > m_storage.size()) {
      *x = *y = 0;
      return path_cmd_stop;
    }
    if (m_vertex_idx == m_storage.size()) {
      *x = *y = 0;
      ++m_vertex_idx;
      return path_cmd_end_poly | path_flags_close;
    }
    unsigned cmd = m_storage[m_vertex_idx].vertex(x, y);
    if (is_move_to(cmd) && !m_closed) {
      *x = *y = 0;
      m_closed = true;
      return path_cmd_end_poly | path_flags_close;
    }
    m_closed = false;
    ++m_vertex_idx;
    return cmd;
  }

  // Bounds in pixels; false for an empty outline.
  bool bounding_rect(rect_d& r) const
  {
    if (m_storage.empty())
      return false;
    r = rect_d(1e100, 1e100, -1e100, -1e100);
    for (const vertex_integer_type& v : m_storage) {
      double x, y;
      v.vertex(&x, &y);
      if (x < r.x1) r.x1 = x;
      if (y < r.y1) r.y1 = y;
      if (x > r.x2) r.x2 = x;
      if (y > r.y2) r.y2 = y;
    }
    return true;
  }

private:
  void add(T x, T y, unsigned flag)
  {
    vertex_integer_type v;
    v.x = T((unsigned(x) << 1) | (flag & 1));
    v.y = T((unsigned(y) << 1) | (flag >> 1));
    m_storage.push_back(v);
  }

  std::vector<vertex_integer_type> m_storage;
  size_t m_vertex_idx = 0;
  bool m_closed = true;
};

} // namespace agg
