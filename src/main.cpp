// Process entry: the tool takes no arguments and reads no environment.
#include "entry_table.h"

int main() { return run_conversion(); }
