/* Does nothing: the cheapest program system() can start. */
int main(void) { return 0; }
