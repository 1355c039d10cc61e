// Ids of the program's string resources; shared by the resource script and the code.
#pragma once

#define IDS_INSTALL_ERROR_PREFIX 100
#define IDS_REGISTRY_GET_DATA_FAILED 101
#define IDS_REGISTRY_INVALID_DATA_TYPE 102
#define IDS_WINDOW_CLASS_FAILED 103
