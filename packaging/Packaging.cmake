# How an installer executable is assembled from the driver's objects and a
# payload. Filled in with the payload work.
