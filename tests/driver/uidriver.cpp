// uidriver.cpp -- the UI driver; its script interpreter follows in the next commit.
int main() { return 2; }
