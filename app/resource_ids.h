/* Identifiers that the menu resource and the program share. Plain definitions, since the
   resource compiler reads this file too. */
#pragma once

#define TAVIMORE_ID_MENU 600
#define TAVIMORE_CMD_CHOOSE_FILES 1000
#define TAVIMORE_CMD_CHOOSE_FOLDER 1001
#define TAVIMORE_CMD_CONVERT 1002
#define TAVIMORE_CMD_EXIT 1010
#define TAVIMORE_CMD_ABOUT 1900
#define TAVIMORE_CMD_HOMEPAGE 1901
