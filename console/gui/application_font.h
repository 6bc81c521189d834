#pragma once
// The console's application font: the compiled-in DroidSansFallback at 15 px.

// Registers the font resource and makes it the application font. Returns false
// (and leaves the default font) when the resource yields no family.
bool installApplicationFont();
