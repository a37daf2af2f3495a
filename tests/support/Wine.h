// Whether the tests run under Wine rather than Windows. Where Wine answers
// differently, a test names the difference and expects Wine's answer only there.
#pragma once

#ifdef _WIN32
bool UnderWine();
#else
constexpr bool UnderWine() { return false; }
#endif
