// A program that does nothing; the build stamps it with version 1.0.21.1.
int main() { return 0; }
