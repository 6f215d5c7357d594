// Stands in for the AIR client: records how it was started and waits to be
// stopped. The test process itself plays the AIR client's part on the socket.
#include "stub_record.h"

int main(int argc, char** argv) {
    RecordRun(argc, argv);
    WaitToBeKilled(60);
    return 0;
}
