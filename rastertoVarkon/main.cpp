// Entry of the rastertoVarkon CUPS filter.
int main() { return 1; }
