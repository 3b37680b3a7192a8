"""morvex-convert: whole trees of diffraction files to xye or csv, in several processes or on a
Dask cluster. Loads through morvex.read and morvex.read_bytes only."""
