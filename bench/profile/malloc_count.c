// Counts calls to the C allocator (LD_PRELOAD); orven_malloc_counts() reads the
// counters, orven_malloc_trace(1) prints a backtrace per malloc until turned off.
//   gcc -O2 -shared -fPIC -o malloc_count.so malloc_count.c -ldl
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <stdatomic.h>
static atomic_long mallocs, frees, reallocs, callocs;
static void* (*real_malloc)(size_t);
static void (*real_free)(void*);
static void* (*real_realloc)(void*, size_t);
static void* (*real_calloc)(size_t, size_t);
static char boot[4096]; static size_t boot_used;
void* traced_hook(size_t); void* malloc(size_t n){ if(!real_malloc){ real_malloc=dlsym(RTLD_NEXT,"malloc"); } atomic_fetch_add(&mallocs,1); traced_hook(n); return real_malloc(n);}
void free(void*p){ if((char*)p>=boot && (char*)p<boot+sizeof boot) return; if(!real_free) real_free=dlsym(RTLD_NEXT,"free"); if(p) atomic_fetch_add(&frees,1); real_free(p);}
void* realloc(void*p,size_t n){ if(!real_realloc) real_realloc=dlsym(RTLD_NEXT,"realloc"); atomic_fetch_add(&reallocs,1); return real_realloc(p,n);}
void* calloc(size_t a,size_t b){ if(!real_calloc){ void* r=boot+boot_used; boot_used+=(a*b+15)&~15; return r;} atomic_fetch_add(&callocs,1); return real_calloc(a,b);}
__attribute__((constructor)) static void init(void){ real_calloc=dlsym(RTLD_NEXT,"calloc"); }
void orven_malloc_counts(long* out){ out[0]=mallocs; out[1]=frees; out[2]=reallocs; out[3]=callocs; }
#include <execinfo.h>
#include <unistd.h>
static int tracing; static __thread int inside;
void orven_malloc_trace(int on){ tracing=on; }
void* traced_hook(size_t n){ (void)n; if(tracing && !inside){ inside=1; void* frames[8]; int k=backtrace(frames,8); char line[64]; int len=snprintf(line,sizeof line,"malloc(%zu)\n",n); write(2,line,len); backtrace_symbols_fd(frames+1,k-1,2); inside=0;} return 0; }
