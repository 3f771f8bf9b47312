// Stands for any header of the server folder.
#pragma once
