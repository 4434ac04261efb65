// Wrappers: the native entry points that scripts call. A wrapper converts the
// script arguments, calls the native function, pushes what it returned and
// releases the call's temporaries. It is also the exception barrier between
// native code and the interpreter: a C++ exception leaving the native side
// becomes a script error carrying its text, and script errors pass through.
#pragma once

#include <cstddef>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bind/Unpack.hh"

namespace LuaWrapper {

// How a script argument is taken, one per argument in order; arguments with
// no spec given are Required.
struct Required {};    // must convert
struct Optional {};    // absent or nil: the type's default; anything else must convert
template <auto V>
struct OptionalOr {};  // absent or nil: V; anything else must convert
struct Lenient {};     // anything that does not convert: the type's default

enum class WrapperKind { Function, Method, Ctor, Dtor };

namespace detail {

// Runs `body` as a barrier: releases the temporaries newer than the call's
// start on every way out and turns native exceptions into script errors.
int protect(lua_State* L, int (*body)(lua_State*));

template <class A, class Spec>
struct Fetch;
template <class A>
struct Fetch<A, Required> {
  static decltype(auto) get(lua_State* L, int i) { return Unpack<A, TypeError<A>>::convert(L, i); }
};
template <class A>
struct Fetch<A, Lenient> {
  static decltype(auto) get(lua_State* L, int i) {
    return Unpack<A, DefaultInitializer<A, false>>::convert(L, i);
  }
};
template <class A>
struct Fetch<A, Optional> {
  static decltype(auto) get(lua_State* L, int i) {
    if (lua_isnoneornil(L, i)) return Conv<A>::fallback();
    return Unpack<A, TypeError<A>>::convert(L, i);
  }
};
template <class A, auto V>
struct Fetch<A, OptionalOr<V>> {
  static std::decay_t<A> get(lua_State* L, int i) {
    if (lua_isnoneornil(L, i)) return static_cast<std::decay_t<A>>(V);
    return Unpack<A, TypeError<A>>::convert(L, i);
  }
};

template <std::size_t I, class... Specs>
struct SpecAt {
  using type = Required;
};
template <class S, class... Rest>
struct SpecAt<0, S, Rest...> {
  using type = S;
};
template <std::size_t I, class S, class... Rest>
struct SpecAt<I, S, Rest...> {
  using type = typename SpecAt<I - 1, Rest...>::type;
};

// What a converted argument is held as until the call: references to
// list-owned strings and to objects stay references, the rest are values.
template <class A>
using Held = std::conditional_t<std::is_same_v<A, const std::string&> ||
                                    (std::is_reference_v<A> &&
                                     IsScriptClass<std::remove_cv_t<std::remove_reference_t<A>>>::value),
                                A, std::decay_t<A>>;

template <class H>
constexpr bool isHandle = std::is_same_v<H, LuaTable> || std::is_same_v<H, LuaFunction>;

template <class A, class Spec>
Held<A> fetchOne(lua_State* L, int i) {
  if constexpr (isHandle<Held<A>>) {
    Held<A> h = Fetch<A, Spec>::get(L, i);
    if (!h.empty()) releaseRefAtEnd(L, h.ref);
    return h;
  } else {
    return Fetch<A, Spec>::get(L, i);
  }
}

// Converts script arguments first..first+n-1, in order from first to last.
template <class... A, class... Specs, std::size_t... I>
std::tuple<Held<A>...> fetchAll(lua_State* L, int first, std::tuple<Specs...>*, std::index_sequence<I...>) {
  (void)L;
  (void)first;
  return std::tuple<Held<A>...>{fetchOne<A, typename SpecAt<I, Specs...>::type>(L, first + static_cast<int>(I))...};
}

// Results.
inline void push(lua_State* L, bool v) { lua_pushboolean(L, v); }
inline void push(lua_State* L, int v) { lua_pushinteger(L, v); }
inline void push(lua_State* L, unsigned int v) { lua_pushinteger(L, v); }
inline void push(lua_State* L, double v) { lua_pushnumber(L, v); }
inline void push(lua_State* L, const std::string& v) { lua_pushlstring(L, v.data(), v.size()); }
inline void push(lua_State* L, const char* v) { lua_pushstring(L, v); }
// A result table is pushed and its reference given back.
inline void push(lua_State* L, LuaTable v) {
  v.push(L);
  v.release();
}
// A class pointer becomes a new instance that owns the object.
template <class T, std::enable_if_t<IsScriptClass<T>::value, int> = 0>
void push(lua_State* L, T* v) {
  LuaClass<T>::packPtr(L, v);
}

// Function signatures.
template <class F>
struct Sig;
template <class R, class... A>
struct Sig<R (*)(A...)> {
  using Ret = R;
  using Class = void;
  using Args = std::tuple<A...>;
};
template <class R, class... A>
struct Sig<R (*)(A...) noexcept> : Sig<R (*)(A...)> {};
template <class R, class C, class... A>
struct Sig<R (C::*)(A...)> : Sig<R (*)(A...)> {
  using Class = C;
};
template <class R, class C, class... A>
struct Sig<R (C::*)(A...) const> : Sig<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct Sig<R (C::*)(A...) noexcept> : Sig<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct Sig<R (C::*)(A...) const noexcept> : Sig<R (C::*)(A...)> {};
template <class R, class... A>
struct Sig<R(A...)> : Sig<R (*)(A...)> {};

// A function whose first parameter is the state pushes its own results and
// returns their count (the _N_ families).
template <class Args>
struct TakesState : std::false_type {};
template <class... A>
struct TakesState<std::tuple<lua_State*, A...>> : std::true_type {
  using Rest = std::tuple<A...>;
};

template <class Args>
struct Tail {
  using type = Args;
};
template <class... A>
struct Tail<std::tuple<lua_State*, A...>> {
  using type = std::tuple<A...>;
};

template <class Args>
struct Fetcher;
template <class... A>
struct Fetcher<std::tuple<A...>> {
  template <class... Specs>
  static std::tuple<Held<A>...> run(lua_State* L, int first) {
    return fetchAll<A...>(L, first, static_cast<std::tuple<Specs...>*>(nullptr),
                          std::index_sequence_for<A...>{});
  }
};

// Calls `f(args...)` (with L first for the _N_ kind) and pushes the result.
template <class Ret, bool N, class F, class Tuple>
int invoke(lua_State* L, F&& f, Tuple&& args) {
  if constexpr (N) {
    static_assert(std::is_same_v<Ret, int>, "a function taking the state returns its result count");
    return std::apply([&](auto&&... a) { return f(L, std::forward<decltype(a)>(a)...); },
                      std::forward<Tuple>(args));
  } else if constexpr (std::is_void_v<Ret>) {
    std::apply(f, std::forward<Tuple>(args));
    return 0;
  } else {
    push(L, std::apply(f, std::forward<Tuple>(args)));
    return 1;
  }
}

}  // namespace detail

// FunctionWrapper<&fn, Specs...>: script arguments 1..k are fn's parameters.
// fn returning void gives no result, any other type one result; fn taking
// `lua_State*` first pushes its own results and returns their count.
template <auto Fn, class... Specs>
struct FunctionWrapper {
  using S = detail::Sig<decltype(Fn)>;
  using Class = void;
  static constexpr WrapperKind kind = WrapperKind::Function;
  static constexpr bool N = detail::TakesState<typename S::Args>::value;

  static int body(lua_State* L) {
    auto args = detail::Fetcher<typename detail::Tail<typename S::Args>::type>::template run<Specs...>(L, 1);
    return detail::invoke<typename S::Ret, N>(L, Fn, std::move(args));
  }
  static int Wrapper(lua_State* L) { return detail::protect(L, &body); }
};

// MethodWrapper<&T::m, Specs...>: argument 1 is the object (self), 2..k+1 the
// method's parameters; results as for FunctionWrapper.
template <auto M, class... Specs>
struct MethodWrapper {
  using S = detail::Sig<decltype(M)>;
  using Class = typename S::Class;
  static constexpr WrapperKind kind = WrapperKind::Method;
  static constexpr bool N = detail::TakesState<typename S::Args>::value;

  static int body(lua_State* L) {
    Class* self = Unpack<Class*, TypeError<Class*>>::convert(L, 1);
    auto args = detail::Fetcher<typename detail::Tail<typename S::Args>::type>::template run<Specs...>(L, 2);
    return detail::invoke<typename S::Ret, N>(
        L, [self](auto&&... a) -> decltype(auto) { return (self->*M)(std::forward<decltype(a)>(a)...); },
        std::move(args));
  }
  static int Wrapper(lua_State* L) { return detail::protect(L, &body); }
};

// CtorWrapper<T(Args...), Specs...>: a new T from script arguments 1..k,
// pushed as an owning instance. With `lua_State*` as the first of Args the
// constructor also gets the state.
template <class Signature, class... Specs>
struct CtorWrapper;
template <class T, class... A, class... Specs>
struct CtorWrapper<T(A...), Specs...> {
  using Class = T;
  static constexpr WrapperKind kind = WrapperKind::Ctor;
  static constexpr bool N = detail::TakesState<std::tuple<A...>>::value;

  static int body(lua_State* L) {
    auto args = detail::Fetcher<typename detail::Tail<std::tuple<A...>>::type>::template run<Specs...>(L, 1);
    T* object = std::apply(
        [L](auto&&... a) {
          (void)L; // used by constructors that take the state
          if constexpr (N) return new T(L, std::forward<decltype(a)>(a)...);
          else return new T(std::forward<decltype(a)>(a)...);
        },
        std::move(args));
    LuaClass<T>::packPtr(L, object);
    return 1;
  }
  static int Wrapper(lua_State* L) { return detail::protect(L, &body); }
};

// DtorWrapper<T>: deletes the object of instance 1 and clears its pointer; a
// cleared instance is left as it is. Exported as "delete" and as "__gc".
template <class T>
struct DtorWrapper {
  using Class = T;
  static constexpr WrapperKind kind = WrapperKind::Dtor;

  static int body(lua_State* L) {
    T** slot = LuaClass<T>::getRawPtr(L, 1);
    if (slot == nullptr) argError(L, 1, LuaClass<T>::data->name);
    T* object = *slot;
    *slot = nullptr;  // cleared first: a second delete or a later __gc does nothing
    delete object;
    return 0;
  }
  static int Wrapper(lua_State* L) { return detail::protect(L, &body); }
};

namespace detail {
// Stores the function at the top under `name`: in the class metatable for
// class-level entries and metamethods ("__" names), else in its __index.
void exportEntry(lua_State* L, const char* className, const char* name, bool classLevel);
}  // namespace detail

// Registers W::Wrapper under `name` for W's class. Constructors are reached
// on the class table (Namespace.Class.new), "__" names are metamethods, all
// other entries are methods of the instances.
template <class W>
void ExportToLua(lua_State* L, const char* name) {
  static_assert(!std::is_void_v<typename W::Class>, "a function wrapper needs its class: ExportToLua<T, W>");
  lua_pushcfunction(L, &W::Wrapper);
  detail::exportEntry(L, LuaClass<typename W::Class>::data->name, name, W::kind == WrapperKind::Ctor);
}

// Registers a function wrapper on T's class table, beside the constructors
// (class functions that take no self, such as alternative constructors).
template <class T, class W>
void ExportToLua(lua_State* L, const char* name) {
  lua_pushcfunction(L, &W::Wrapper);
  detail::exportEntry(L, LuaClass<T>::data->name, name, true);
}

}  // namespace LuaWrapper
