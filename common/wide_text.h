#pragma once
// UTF-16 text for the Windows APIs, with no windows.h. The C++ library compiles all of
// std::wstring into one object that a static link takes whole (35 KB of the agent); a string
// with an allocator of our own is instantiated from the headers, for the members the program uses.
#include <memory>
#include <string>

template <typename T>
struct InlineAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = InlineAllocator<U>;
  };
  InlineAllocator() = default;
  template <typename U>
  InlineAllocator(const InlineAllocator<U>&) noexcept {}
};

using WideText = std::basic_string<wchar_t, std::char_traits<wchar_t>, InlineAllocator<wchar_t>>;
