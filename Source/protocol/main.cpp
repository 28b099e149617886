#include "protocol/protocol.h"

int main(int argc, char** argv) { return protocol::runEngine(argc, argv); }
