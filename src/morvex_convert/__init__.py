"""morvex-convert: whole trees of diffraction files to xye, csv, GSAS or one Parquet dataset, in
several processes or on a Dask cluster. Loads through morvexio.read and morvexio.read_bytes
only."""
