// A statically linked program named as another program's loader: it runs in the loader's
// place and loads nothing, so no preloaded library would go in.
int main() { return 0; }
