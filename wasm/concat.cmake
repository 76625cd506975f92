# Joins the module's JavaScript parts into one file: cmake -DOUT=... -DPARTS=a;b -P concat.cmake
set(text "")
foreach(part IN LISTS PARTS)
  file(READ ${part} body)
  string(APPEND text "${body}\n")
endforeach()
file(WRITE ${OUT} "${text}")
