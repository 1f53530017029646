// An executable that only carries a version stamp, read back by the file-version tests.
int main() { return 0; }
