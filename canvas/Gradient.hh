// Gradient functions behind one virtual call, so that one span generator
// serves every function and repeat mode.
#pragma once

#include <agg_span_gradient.h>

class gradient_polymorphic_wrapper_base {
public:
  virtual int calculate(int x, int y, int d) const = 0;

protected:
  ~gradient_polymorphic_wrapper_base() = default;
};

template <class GradientF>
class gradient_polymorphic_wrapper final : public gradient_polymorphic_wrapper_base {
public:
  int calculate(int x, int y, int d) const override { return m_gradient.calculate(x, y, d); }

private:
  GradientF m_gradient;
};

// Adaptor (reflect, repeat) over another polymorphic gradient.
template <template <class> class Adaptor>
class gradient_polymorphic_adaptor final : public gradient_polymorphic_wrapper_base {
public:
  explicit gradient_polymorphic_adaptor(const gradient_polymorphic_wrapper_base& g) : m_adaptor(g) {}
  int calculate(int x, int y, int d) const override { return m_adaptor.calculate(x, y, d); }

private:
  Adaptor<gradient_polymorphic_wrapper_base> m_adaptor;
};

// The gradient function for a type word; unknown words warn and give x.
const gradient_polymorphic_wrapper_base& gradientByType(const std::string& type);
