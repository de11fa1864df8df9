#include "cli/app.hpp"

int main(int argc, char** argv) { return stelvane::cli::run(argc, argv); }
