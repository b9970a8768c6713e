// The Jet 4 storage engine; see include/jet/ for the layer's front door.
