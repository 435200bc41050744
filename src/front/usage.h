// The texts the program prints when asked for help or its version.
#pragma once

// `dot` is printed when the program is run with no argument, `comma` after a
// help keyword; they differ in how the services line writes the list.
enum class usage_variant { dot, comma };

void print_usage(usage_variant variant);
void print_version();
