// What a person at the platform's console types to ask a program for help.
#pragma once

// True where programs answer "/?" with their help, as on Windows. Elsewhere
// "/?" is a path (a folder named "?" at the root) and no keyword.
#ifdef _WIN32
inline constexpr bool slash_question_asks_help = true;
#else
inline constexpr bool slash_question_asks_help = false;
#endif
