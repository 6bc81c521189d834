#pragma once
// The console's application font: DroidSansFallback at 15 px.

// Registers the font and makes it the application font. Returns false (and
// leaves the default font) when the font file yields no family.
bool installApplicationFont();
