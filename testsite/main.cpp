// Placeholder until the site is built.
int main() { return 0; }
