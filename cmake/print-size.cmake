# Prints the size of FILE: every build reports what the stub weighs.
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
message("size: ${name} ${size} bytes")
