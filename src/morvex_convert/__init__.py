"""morvex-convert: whole trees of diffraction files to xye or csv, in several processes or on a
Dask cluster. Loads through morvexio.read and morvexio.read_bytes only."""
