// A stand-in program for the process tests that ends at once.
int main() { return 0; }
