/* Resource numbers of the window skin; read by windres and by C++. A skin
   image's number is UI_SKIN_RESOURCE_BASE plus its SkinImage value. */
#pragma once

#define UI_IDI_UPDATER 1
#define UI_SKIN_RESOURCE_BASE 100
#define UI_IDR_BACKGROUND 101
#define UI_IDB_MINIMIZE_1 102
#define UI_IDB_MINIMIZE_2 103
#define UI_IDB_CLOSE_1 104
#define UI_IDB_CLOSE_2 105
#define UI_IDB_ENTER_GAME_1 106
#define UI_IDB_ENTER_GAME_2 107
#define UI_IDB_ENTER_GAME_3 108
#define UI_IDB_BAR_FILL 109
#define UI_IDB_BAR_BACKGROUND 110
/* The hand pointer of the enter-game button, our own image. */
#define UI_IDC_HAND 200
