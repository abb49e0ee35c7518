#pragma once
// The usage text the program prints, byte for byte, as the tests expect it.
inline constexpr char kUsageText[] =
    "\n"
    " -i image_file     def=\"image.tga\"\n"
    " -z zbuffer_file   def=\"zbuffer.tga\"\n"
    " -l lens_file      def=\"lens.tga\"\n"
    " -o output_file    def=\"out.tga\"\n"
    " -s blur_size(pix) def=\"16.0\"\n"
    " -k strong         def=\"1.035\"\n"
    " -c focas(m)       def=\"0.5\"\n"
    " -n z near(m)      def=\"0.0\"\n"
    " -f z far(m)       def=\"1.0\"\n"
    " -r zbuffer reverse\n"
    "\n";
