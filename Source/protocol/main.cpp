#include "protocol/protocol.h"

int main(int argc, char** argv) { return protocol::run_engine(argc, argv); }
