/* A host that knows the library only from its installed package; each failure has its own exit status. */
#include <stdio.h>
#include <string.h>

#include "Vantrel.h"
#include "VantrelServerController.h"

int main(void) {
    char name[320];
    FILE* log;
    if (Vantrel_Init("consumer") != 1) return 1;
    if (Vantrel_MessageTypeToString(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, name, sizeof name) != 1 ||
        strcmp(name, "VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED") != 0)
        return 2;
    /* Without a controller the AIR server handle is null and Stop refuses. */
    if (VantrelServerController_GetAirServerHandle() != NULL || VantrelServerController_Stop() != 0) return 3;
    Vantrel_Remove();
    if ((log = fopen("vantrel-consumer.log", "r")) == NULL) return 4;
    fclose(log);
    puts("consumer ok");
    return 0;
}
