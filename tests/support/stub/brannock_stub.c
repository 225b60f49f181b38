/* Stands in for the host's core library in host-version tests. */
int brannock_stub_marker(void) { return 42; }
