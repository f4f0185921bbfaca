// The window's layer, out of the bus layer's reach.
#pragma once
